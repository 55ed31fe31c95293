// tarvex-update: the firmware updater's window, on this machine's devices.

#include "app/qt/UpdateApp.h"
#include "platform/FontPreload.h"
#include "platform/SystemServices.h"

int main(int argc, char** argv) {
    using namespace tarvex;
    // Beside the toolkit's and the services' start, rather than before the window's layout.
    const std::unique_ptr<CFontPreload> fonts = StartFontPreload();
    CUpdateApp app(argc, argv);
    const std::unique_ptr<CUiLanguage> language = CreateUiLanguage();
    SystemServices system = CreateSystemServices();
    const FileSystemServices files = CreateFileSystemServices();
    DriveCopyServices driveCopy{files.Volumes.get(), system.UsbDevices.get(),
                                files.FileWriter.get(), files.StagingFolder};
    // Where nothing mounts the device's volume, the run mounts it (never asking for a password).
    driveCopy.pVolumeMounter = files.VolumeMounter.get();
    const RunGuardSystemServices guards = CreateRunGuardServices();
    const CRunHistory history(CRunHistory::DefaultFile());
    fonts->Finish();
    return app.Run(UpdatePlatform{
        *system.HidPort, *system.UsbDevices, *language, driveCopy, system.DeviceNotices.get(),
        RunGuardServices{guards.DeviceLocks.get(), guards.SleepInhibitor.get()}, &history});
}
