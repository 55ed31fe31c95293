#pragma once
// The mounted volumes on Linux: the process's mount table (/proc/self/mountinfo), the size of
// each mount that can be a device's volume from statvfs, and, through libudev, the USB device its
// block device belongs to.
//
// The parsing and ordering are pure functions over the table's text, so tests feed them lines
// the kernel could write; CMountedVolumeList only adds the system calls.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/VolumeList.h"

namespace tarvex {

// One line of mountinfo, with the fields the volume list uses.
struct MountInfoEntry {
    std::uint32_t MountId = 0;
    std::uint32_t ParentId = 0;
    std::uint32_t Major = 0;  // st_dev of the mount: 0 for file systems without a block device
    std::uint32_t Minor = 0;
    std::filesystem::path MountPoint;
    std::string FileSystemType;
    std::string Source;
    // The folder of the file system that is mounted here: "/" for a whole file system, the
    // folder's path for a bind mount of a folder inside one.
    std::string Root;
};

// Undoes the kernel's escaping of a mountinfo field: a backslash followed by three octal
// digits stands for that byte (\040 blank, \011 tab, \012 newline, \134 backslash). Anything
// else, including a backslash not followed by three octal digits, is kept as it stands.
std::string UnescapeMountField(std::string_view field);

// Every well-formed line of mountinfo text, in the order given. A line without the "-"
// separator after the optional fields, or with an unreadable number, is skipped.
std::vector<MountInfoEntry> ParseMountInfo(std::string_view text);

// The mounts a path lookup reaches, sorted by mount point in byte order. Of several mounts on
// one path only the top one is kept (the one no other mount on that path sits on), because
// statvfs on that path sees only it.
std::vector<MountInfoEntry> VisibleMountsByMountPoint(std::vector<MountInfoEntry> entries);

// Whether a mount can be a drive-mode device's volume, and so is asked for its size: the whole
// (root "/") of a FAT-family file system (vfat, msdos, exfat) on a block device (major not 0).
// Nothing else is ever sized: asking a network or user-space file system (fuse, fuseblk,
// virtiofs, nfs, ...) may wait for ever on a server or daemon that does not answer, and a bind
// mount of a folder on the device's volume has the volume's size without being its root.
bool CouldBeDeviceVolume(const MountInfoEntry& mount);

// The st_dev that every file on the mount reports: its major:minor as a device number.
std::uint64_t FileSystemIdOf(const MountInfoEntry& mount);

// blocks x fragmentSize, saturating at the largest 64-bit value instead of wrapping.
std::uint64_t CapacityFromBlocks(std::uint64_t blocks, std::uint64_t fragmentSize);

class CMountedVolumeList final : public CVolumeList {
public:
    explicit CMountedVolumeList(std::filesystem::path mountInfoPath = "/proc/self/mountinfo");

    // Reads the table anew at every call; runs statvfs on the mounts CouldBeDeviceVolume
    // accepts (the others are listed with capacity 0) and asks udev about every mount with a
    // block device. Every volume carries its FileSystemId from the table.
    std::vector<VolumeInfo> ListVolumes() override;
    // Asks udev whether `usbDeviceSystemPath` is the syspath of a USB device it knows.
    bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) override;

private:
    const std::filesystem::path m_MountInfoPath;
};

}  // namespace tarvex
