#include "app/qt/UpdateApp.h"

#include "app/LastRunText.h"
#include "app/qt/LastRunMenu.h"
#include "app/qt/UpdateDlg.h"
#include "hid/Hid.h"
#include "history/RecordingUpdateView.h"
#include "history/RunDevice.h"
#include "ui/qt/UiPictures.h"
#include "update/UpdateEngine.h"

namespace tarvex {

CUpdateApp::CUpdateApp(int& argc, char** argv) : QApplication(argc, argv) {
    setDesktopFileName(QString::fromLatin1(kDesktopFileName));
}

int CUpdateApp::Run(const UpdatePlatform& platform) {
    // Every run's last reports, for its record.
    CReportTailPort reports(platform.HidPort);
    CHid hid(reports, platform.UsbDevices, platform.pDeviceNotices);
    CUpdateDlg dialog(platform.Language);
    CRecordingUpdateView recorder(
        dialog, RecordingSources{"tarvex-update",
                                 [&hid, &reports, &platform] {
                                     return DescribeRunDevice(hid, reports, platform.UsbDevices);
                                 },
                                 &reports, platform.pHistory});
    new CLastRunMenu(dialog, platform.Language,
                     [&platform, &recorder] { return LastRunText(platform.pHistory, recorder); });
    CUpdateEngine engine(hid, recorder, platform.Language, platform.DriveCopy, platform.Guards);
    dialog.Start(engine, platform.pDeviceNotices);
    // An X11 window manager takes the icon in every size it offers, drawn when the window is
    // made; set after the first paint, the drawing does not hold the window back. The dialog
    // and every later window take it from here.
    dialog.AfterFirstPaint([this] { setWindowIcon(ProgramIcon()); });
    dialog.exec();
    // Closing the dialog has stopped the engine; this covers a dialog ended any other way.
    dialog.CancelQuestions();
    engine.Shutdown();
    return 0;
}

}  // namespace tarvex
