#pragma once
// The operating system's services in one place: the one factory that picks this system's
// backends. Front ends take what it returns and pass each service into the objects that use
// it; tests build those objects over the virtual services instead and never come here.

#include <filesystem>
#include <memory>

#include "platform/DeviceLock.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/FileWriter.h"
#include "platform/HidPort.h"
#include "platform/SleepInhibitor.h"
#include "platform/UiLanguage.h"
#include "platform/UsbDeviceList.h"
#include "platform/VolumeList.h"
#include "platform/VolumeMounter.h"

namespace tarvex {

struct SystemServices {
    std::unique_ptr<CHidPort> HidPort;
    std::unique_ptr<CUsbDeviceList> UsbDevices;
    // Never null; a source whose NoticeFd is -1 when the system's notices cannot be had.
    std::unique_ptr<CDeviceNoticeSource> DeviceNotices;
};

// Made on the window's thread at start-up; every member is set. Asks the system for nothing
// that could fail yet, apart from setting up the notice source.
SystemServices CreateSystemServices();

// The user's interface language as this system tells it (the locale variables on Linux,
// GetUserDefaultUILanguage on Windows). Asks the system anew at every call.
std::unique_ptr<CUiLanguage> CreateUiLanguage();

// What the drive-copy update needs of the file system: the mounted volumes, a writer that
// flushes to the device, and the folder where the user's copy of 1.dat is kept. Apart from the
// device services, so that a front end whose devices are virtual still copies onto real
// volumes.
struct FileSystemServices {
    std::unique_ptr<CVolumeList> Volumes;
    std::unique_ptr<CFileWriter> FileWriter;
    // This program's folder in the user's own cache (never beside the program, which may be
    // installed for everyone); empty when the system names none.
    std::filesystem::path StagingFolder;
    // Mounts the device's volume where nothing else does (UDisks2 on Linux); on a system that
    // mounts volumes by itself, one that answers that there is nothing to ask.
    std::unique_ptr<CVolumeMounter> VolumeMounter;
};

// Every pointer member is set. Reads the environment once.
FileSystemServices CreateFileSystemServices();

// What keeps a run safe on a shared desktop: the devices' locks, one program per device, and
// the system's sleep inhibitor. Apart from the device services, so that a front end with virtual
// devices keeps the machine awake during a run too. A member is null where the system offers
// nothing of the kind; the engine then goes without it.
struct RunGuardSystemServices {
    std::unique_ptr<CDeviceLocks> DeviceLocks;
    std::unique_ptr<CSleepInhibitor> SleepInhibitor;
};

// Asks the system for nothing yet: the locks and the sleep block are asked for at a run's start.
RunGuardSystemServices CreateRunGuardServices();

}  // namespace tarvex
