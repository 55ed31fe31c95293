#pragma once
// Mounting a volume the way the desktop's own file manager does: through the system's disk
// service, with the calling user's authority, so that a drive-mode device's volume can be
// written on a desktop that mounts nothing by itself. The service decides who may mount what;
// this program never mounts anything itself and never needs root for it.
//
// The interface only asks and carries out: which volume to mount, and whether to unmount it
// again, is the update engine's choice.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvex {

// A block device with a file system, as the disk service knows it.
struct MountableVolume {
    // The service's name for the volume (a D-Bus object path on Linux); what Mount and Unmount
    // take.
    std::string Id;
    std::string DevicePath;  // the device node, such as /dev/sdb1; for messages
    // The USB device that holds the block device, in the form of UsbDeviceInfo::SystemPath.
    std::string UsbDeviceSystemPath;
    std::string FileSystemType;   // as the service probed it: "vfat", "ext4", ... ("" unknown)
    std::uint64_t SizeBytes = 0;  // of the block device (the file system is a little smaller)
    std::vector<std::filesystem::path> MountPoints;  // empty while it is not mounted
};

enum class VolumeMountError {
    None,
    NoService,      // no disk service on this system (no system bus, nobody who mounts)
    NotAuthorized,  // the service said no for this user
    // The service would allow it after the user authenticates, which was not asked for.
    NeedsAuthentication,
    AlreadyMounted,  // somebody mounted it meanwhile
    NoSuchVolume,    // the volume is gone (its device left)
    Failed,          // any other error of the service, or no answer in time
};

const char* ToString(VolumeMountError error);

struct VolumesOfDevice {
    std::vector<MountableVolume> Volumes;
    VolumeMountError Error = VolumeMountError::None;
    std::string Message;  // the system's own words, for traces
};

struct VolumeMountResult {
    VolumeMountError Error = VolumeMountError::None;
    std::string Message;               // the system's own words, for traces
    std::filesystem::path MountPoint;  // Mount only: where the service mounted it
    bool Ok() const { return Error == VolumeMountError::None; }
};

// Threads: every call may come from any thread and waits for the service's answer (a mount may
// take seconds; with authentication allowed, as long as the user takes); front ends call it
// from a worker, never from a window's thread. An implementation keeps no connection between
// calls.
class CVolumeMounter {
public:
    virtual ~CVolumeMounter() = default;

    // The volumes with a file system on the block devices of the USB device
    // `usbDeviceSystemPath` that the service knows. A block device the service has not taken
    // in yet (the device just arrived) is left out: a later call lists it.
    virtual VolumesOfDevice ListVolumesOf(const std::string& usbDeviceSystemPath) = 0;

    // Mounts `volumeId` where the service chooses, as the calling user. Asks the user to
    // authenticate only when `allowAuthentication` is set.
    virtual VolumeMountResult Mount(const std::string& volumeId, bool allowAuthentication) = 0;

    // Unmounts `volumeId`; nothing else it may be mounted on is touched by this program.
    virtual VolumeMountResult Unmount(const std::string& volumeId) = 0;
};

// Where the system offers no disk service to ask (Windows mounts a volume by itself): every
// call answers NoService, and the engine waits for the system's own mount as it always did.
class CNoVolumeMounter final : public CVolumeMounter {
public:
    VolumesOfDevice ListVolumesOf(const std::string& usbDeviceSystemPath) override;
    VolumeMountResult Mount(const std::string& volumeId, bool allowAuthentication) override;
    VolumeMountResult Unmount(const std::string& volumeId) override;
};

}  // namespace tarvex
