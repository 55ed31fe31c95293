#pragma once
// The mounted volumes, as far as the drive-copy update needs them: where each is mounted, what
// it was mounted from, how large it is, and which USB device holds it when the system can tell.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

struct VolumeInfo {
    std::filesystem::path MountPoint;
    // What the mount table names as the source ("/dev/sdb1", "tmpfs", a server path, ...; on
    // Windows the volume's own root, \\?\Volume{GUID}\, where files open through it).
    std::string SourceDevice;
    // Total size of the file system in bytes; 0 when it was not asked (a file system that
    // cannot be a drive-mode device's volume is never asked) or could not answer.
    std::uint64_t CapacityBytes = 0;
    // The system's name for the USB device the volume's block device belongs to, in the same
    // form as UsbDeviceInfo::SystemPath; empty when the volume is not on USB or it cannot be told.
    std::string UsbDeviceSystemPath;
    // The file system's identity as the system numbers it (on Linux the mount's major:minor,
    // which is what stat reports as st_dev for every file on it; on Windows the volume serial
    // number); empty where the list cannot tell. A writer checks it to be sure that the folder is
    // still this volume when it writes.
    std::optional<std::uint64_t> FileSystemId;
};

// Threads: ListVolumes may be called from any thread; an implementation keeps no state between
// calls that another call could see half-made.
class CVolumeList {
public:
    virtual ~CVolumeList() = default;

    // Every mounted file system once, sorted by mount point in byte order (memcmp of the
    // path's bytes), so that "the first matching volume" means the same thing on every run.
    // A mount point hidden under a later mount on the same path is listed once, as the mount
    // that is visible there. Empty when the mount table cannot be read. Never waits on a
    // network server or a user-space file system.
    virtual std::vector<VolumeInfo> ListVolumes() = 0;

    // Whether the volumes of the USB device `usbDeviceSystemPath` (as CUsbDeviceList reports
    // it) can be told apart from others: true when the system knows the device, so that a
    // volume on it, once mounted, is listed with that UsbDeviceSystemPath. Its volume need not
    // exist yet; a device just plugged in gets its block device and its mount only later.
    virtual bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) = 0;
};

}  // namespace tarvex
