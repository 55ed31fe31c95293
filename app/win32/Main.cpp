// tarvex-update.exe: the firmware updater's window, on this machine's devices.

#include <windows.h>

#include "app/win32/UpdateApp.h"
#include "platform/SystemServices.h"
#include "platform/windows/WinDialogDeviceNotices.h"
#include "platform/windows/WinHidPort.h"
#include "platform/windows/WinUsbDeviceList.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace tarvex;
    CUpdateApp app;
    const std::unique_ptr<CUiLanguage> language = CreateUiLanguage();
    // The system's HID and USB lists; the device notices come to the window's own dialog
    // instead of the factory's notice thread.
    CWinHidPort hidPort;
    CWinUsbDeviceList usbDevices;
    CWinDialogDeviceNotices notices;
    const FileSystemServices files = CreateFileSystemServices();
    const DriveCopyServices driveCopy{files.Volumes.get(), &usbDevices, files.FileWriter.get(),
                                      files.StagingFolder};
    const RunGuardSystemServices guards = CreateRunGuardServices();
    const CRunHistory history(CRunHistory::DefaultFile());
    return app.Run(
        UpdatePlatform{hidPort, usbDevices, *language, driveCopy, &notices,
                       RunGuardServices{guards.DeviceLocks.get(), guards.SleepInhibitor.get()},
                       &history},
        &notices);
}
