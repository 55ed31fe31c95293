#pragma once
// The volumes of a Windows machine, as the drive-copy update needs them: the drive letters A:
// to Z:, in that order, each sized with GetDiskFreeSpaceW (VolumeCapacity.h).
//
// Only local drives are sized (removable, fixed and RAM disks): a network drive can keep the
// call waiting on its server, and a CD drive is never the device's volume. Letters without a
// volume are left out; a drive without its medium (an empty card reader) is listed with size 0.
// While the letters are probed the system is told not to ask the user to insert a medium.
//
// MountPoint is the drive's root ("E:\"). SourceDevice is the volume's own root as the mount
// manager names it (\\?\Volume{GUID}\) when files can be reached through it, else the drive's
// name ("E:"): wine gives every letter such a name but opens no file through it. A sized volume
// has its volume serial number as FileSystemId, which the writer compares with the open file's
// (WinFileWriter.h), and when it is on a USB device's disk that device's instance ID as
// UsbDeviceSystemPath, the form the USB device list reports (WinDeviceTree.h). CanFindVolumesOf
// says yes for a device the system has a node for. Where the tie cannot be made (wine has no
// disks below its USB devices) the volumes stay untied, and the engine takes one by its capacity
// only where no other device's could be taken instead.
//
// Threads: any; each call asks the system anew.

#include <cstdint>
#include <vector>

#include "platform/VolumeList.h"
#include "platform/windows/WinDeviceTree.h"

namespace tarvex {

// Whether a drive of this GetDriveTypeW type is sized.
bool SizesDriveType(unsigned driveType);

class CWinVolumeList final : public CVolumeList {
public:
    // `tree` must outlive the list.
    explicit CWinVolumeList(CWinDeviceTree& tree = SystemDeviceTree()) : m_Tree(tree) {}

    std::vector<VolumeInfo> ListVolumes() override;
    bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) override;

private:
    CWinDeviceTree& m_Tree;
};

}  // namespace tarvex
