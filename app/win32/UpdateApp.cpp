#include "app/win32/UpdateApp.h"

#include <windows.h>

#include <commctrl.h>

#include "app/LastRunText.h"
#include "app/win32/LastRunMenu.h"
#include "app/win32/UpdateDlg.h"
#include "hid/Hid.h"
#include "history/RecordingUpdateView.h"
#include "history/RunDevice.h"

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
    // Every run's last reports, for its record.
    CReportTailPort reports(platform.HidPort);
    CHid hid(reports, platform.UsbDevices, notices);
    CUpdateDlg dialog(platform.Language);
    CRecordingUpdateView recorder(
        dialog, RecordingSources{"tarvex-update",
                                 [&hid, &reports, &platform] {
                                     return DescribeRunDevice(hid, reports, platform.UsbDevices);
                                 },
                                 &reports, platform.pHistory});
    CLastRunMenu lastRunMenu(platform.Language, [&platform, &recorder] {
        return LastRunText(platform.pHistory, recorder);
    });
    CUpdateEngine engine(hid, recorder, platform.Language, platform.DriveCopy, platform.Guards);
    if (!dialog.Create(engine, notices, dialogNotices)) {
        return 1;
    }
    lastRunMenu.Install(dialog.Window());
    dialog.RunMessageLoop();
    // Closing the dialog has stopped the engine; this covers a loop ended any other way.
    dialog.CancelQuestions();
    engine.Shutdown();
    return 0;
}

}  // namespace tarvex
