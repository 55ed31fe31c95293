#pragma once
// The mounted volumes, as far as the drive-copy update needs them: where each is mounted, what
// it was mounted from, how large it is, and which USB device holds it when the system can tell.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvex {

struct VolumeInfo {
    std::filesystem::path MountPoint;
    // What the mount table names as the source ("/dev/sdb1", "tmpfs", a server path, ...).
    std::string SourceDevice;
    // Total size of the file system in bytes; 0 when it could not be asked.
    std::uint64_t CapacityBytes = 0;
    // The system's name for the USB device the volume's block device belongs to, in the same
    // form as UsbDeviceInfo::SystemPath; empty when the volume is not on USB or it cannot be told.
    std::string UsbDeviceSystemPath;
};

// Threads: ListVolumes may be called from any thread; an implementation keeps no state between
// calls that another call could see half-made.
class CVolumeList {
public:
    virtual ~CVolumeList() = default;

    // Every mounted file system once, sorted by mount point in byte order (memcmp of the
    // path's bytes), so that "the first matching volume" means the same thing on every run.
    // A mount point hidden under a later mount on the same path is listed once, as the mount
    // that is visible there. Empty when the mount table cannot be read.
    virtual std::vector<VolumeInfo> ListVolumes() = 0;
};

}  // namespace tarvex
