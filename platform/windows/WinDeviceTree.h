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

namespace tarvex {

std::optional<std::wstring> DeviceInstanceId(DEVINST device);

// The instance ID of the USB device whose disk holds the volume `volumeName` ("E:"); empty when
// the volume is not on one disk, the disk is not on USB, or the system does not tell.
std::wstring UsbDeviceOfVolume(const std::wstring& volumeName);

// Whether the system has a device node of this instance ID now (case ignored, as Windows does).
bool DeviceNodePresent(const std::wstring& instanceId);

}  // namespace tarvex
