// The Windows backends: SetupAPI and the HID library for HID and USB devices, a message-only
// window for the device notices, the drive letters for the volumes, named objects and power
// requests for a run's guards.

#include "platform/SystemServices.h"
#include "platform/windows/WinDeviceNotices.h"
#include "platform/windows/WinFileWriter.h"
#include "platform/windows/WinHidPort.h"
#include "platform/windows/WinRunGuards.h"
#include "platform/windows/WinUiLanguage.h"
#include "platform/windows/WinUsbDeviceList.h"
#include "platform/windows/WinUserFolders.h"
#include "platform/windows/WinVolumeList.h"

namespace tarvex {

SystemServices CreateSystemServices() {
    SystemServices services;
    services.HidPort = std::make_unique<CWinHidPort>();
    services.UsbDevices = std::make_unique<CWinUsbDeviceList>();
    services.DeviceNotices = std::make_unique<CWinDeviceNotices>();
    return services;
}

std::unique_ptr<CUiLanguage> CreateUiLanguage() {
    return std::make_unique<CWinUiLanguage>();
}

FileSystemServices CreateFileSystemServices() {
    FileSystemServices services;
    services.Volumes = std::make_unique<CWinVolumeList>();
    services.FileWriter = std::make_unique<CWinFileWriter>();
    // Never beside the program: its folder is usually Program Files, and the copy is the
    // user's, kept in the user's own local data.
    services.StagingFolder = UserLocalDataFolder();
    // Windows gives a volume its drive letter by itself.
    services.VolumeMounter = std::make_unique<CNoVolumeMounter>();
    return services;
}

RunGuardSystemServices CreateRunGuardServices() {
    RunGuardSystemServices services;
    services.DeviceLocks = std::make_unique<CWinDeviceLocks>();
    services.SleepInhibitor = std::make_unique<CWinSleepInhibitor>();
    return services;
}

}  // namespace tarvex
