#include "app/qt/UpdateApp.h"

#include "app/qt/UpdateDlg.h"
#include "hid/Hid.h"
#include "ui/qt/UiPictures.h"
#include "update/UpdateEngine.h"

namespace tarvex {

CUpdateApp::CUpdateApp(int& argc, char** argv) : QApplication(argc, argv) {
    setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    setWindowIcon(ProgramIcon());
}

int CUpdateApp::Run(const UpdatePlatform& platform) {
    CHid hid(platform.HidPort, platform.UsbDevices, platform.pDeviceNotices);
    CUpdateDlg dialog(platform.Language);
    CUpdateEngine engine(hid, dialog, platform.Language, platform.DriveCopy, platform.Guards);
    dialog.Start(engine, platform.pDeviceNotices);
    dialog.exec();
    // Closing the dialog has stopped the engine; this covers a dialog ended any other way.
    dialog.CancelQuestions();
    engine.Shutdown();
    return 0;
}

}  // namespace tarvex
