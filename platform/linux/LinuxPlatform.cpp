// The Linux backends: hidapi's hidraw backend for HID, libudev for the USB device list and the
// device notices, flock on device nodes for the devices' locks, logind for the sleep block,
// UDisks2 for mounting the device's volume.

#include "platform/SystemServices.h"
#include "platform/linux/FlockDeviceLocks.h"
#include "platform/linux/HidapiHidPort.h"
#include "platform/linux/LogindSleepInhibitor.h"
#include "platform/linux/MountedVolumeList.h"
#include "platform/linux/PosixFileWriter.h"
#include "platform/linux/PosixUiLanguage.h"
#include "platform/linux/UDisksVolumeMounter.h"
#include "platform/linux/UdevDeviceMonitor.h"
#include "platform/linux/UdevUsbDeviceList.h"
#include "platform/linux/UserFolders.h"

namespace tarvex {

SystemServices CreateSystemServices() {
    SystemServices services;
    services.HidPort = std::make_unique<CHidapiHidPort>();
    services.UsbDevices = std::make_unique<CUdevUsbDeviceList>();
    services.DeviceNotices = std::make_unique<CUdevDeviceMonitor>();
    return services;
}

std::unique_ptr<CUiLanguage> CreateUiLanguage() {
    return std::make_unique<CPosixUiLanguage>();
}

FileSystemServices CreateFileSystemServices() {
    FileSystemServices services;
    services.Volumes = std::make_unique<CMountedVolumeList>();
    services.FileWriter = std::make_unique<CPosixFileWriter>();
    services.StagingFolder = UserCacheFolder();
    services.VolumeMounter = std::make_unique<CUDisksVolumeMounter>();
    return services;
}

RunGuardSystemServices CreateRunGuardServices() {
    RunGuardSystemServices services;
    services.DeviceLocks = std::make_unique<CFlockDeviceLocks>();
    services.SleepInhibitor = std::make_unique<CLogindSleepInhibitor>();
    return services;
}

}  // namespace tarvex
