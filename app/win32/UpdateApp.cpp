#include "app/win32/UpdateApp.h"

#include <windows.h>

#include <commctrl.h>

#include "app/win32/UpdateDlg.h"
#include "hid/Hid.h"

namespace tarvex {

CUpdateApp::CUpdateApp() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
}

int CUpdateApp::Run(const UpdatePlatform& platform, CWinDialogDeviceNotices* dialogNotices) {
    CDeviceNoticeSource* notices =
        dialogNotices != nullptr ? dialogNotices : platform.pDeviceNotices;
    CHid hid(platform.HidPort, platform.UsbDevices, notices);
    CUpdateDlg dialog(platform.Language);
    CUpdateEngine engine(hid, dialog, platform.Language, platform.DriveCopy, platform.Guards);
    if (!dialog.Create(engine, notices, dialogNotices)) {
        return 1;
    }
    dialog.RunMessageLoop();
    // Closing the dialog has stopped the engine; this covers a loop ended any other way.
    dialog.CancelQuestions();
    engine.Shutdown();
    return 0;
}

}  // namespace tarvex
