#pragma once
// The Windows device tree, as far as the drive copy needs it: a device node's instance ID, and
// the USB device that holds a volume, found from the volume down to its disk (the disk number of
// its one extent against the storage device number of each disk interface) and from the disk up
// through its parent nodes to the first whole USB device.
//
// Threads: any; each call asks the system anew.

#include <windows.h>

#include <cfgmgr32.h>

#include <optional>
#include <string>
#include <vector>

namespace tarvex {

std::optional<std::wstring> DeviceInstanceId(DEVINST device);

// The instance IDs of the device nodes above the disk that holds the volume `volumeName` ("E:"),
// nearest first; empty when the volume is not on one disk or the system does not tell.
std::vector<std::wstring> AncestorsOfVolumeDisk(const std::wstring& volumeName);

// Whether the system has a device node of this instance ID now (case ignored, as Windows does).
bool DeviceNodePresent(const std::wstring& instanceId);

// What the volume list asks of the device tree, one virtual each, so that a test can hand in a
// tree of its own (under wine no disk sits below a USB device). The base class asks the system.
class CWinDeviceTree {
public:
    virtual ~CWinDeviceTree() = default;
    virtual std::vector<std::wstring> AncestorsOfVolumeDisk(const std::wstring& volumeName);
    virtual bool DeviceNodePresent(const std::wstring& instanceId);
};

// The system's tree, shared by every volume list that is not given another.
CWinDeviceTree& SystemDeviceTree();

}  // namespace tarvex
