#pragma once
// How the hidraw backend reads what the system tells it: errno values after a failed open,
// read or write, and where sysfs keeps an interface's report descriptor. Pure functions, so
// that tests can walk every case without a device.

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/HidPort.h"

namespace tarvex {

// Why an open failed. EACCES and EPERM are the missing permission on the device node that a
// udev rule fixes; ENOENT, ENODEV and ENXIO mean the interface went away after it was listed.
// 0 (the node opened after all when asked again) and everything else are Other.
HidOpenError OpenErrorFromErrno(int error);

// A failed read, from errno right after it and from whether the device node is still the one
// that was opened. hidapi reports a hang-up or error flag on its poll as a failure without
// setting errno: with errno cleared before the call, 0 means exactly that, and it is how an
// unplugged device shows up. EINTR only cut the wait short: nothing arrived, as in a time-out.
HidIoStatus ReadFailureStatus(int error, bool bNodePresent);

// A failed write, likewise. Unlike a read, EIO from a write can be a transfer error on a
// device that is still there, so it means "gone" only with the node gone.
HidIoStatus WriteFailureStatus(int error, bool bNodePresent);

// The major number /proc/devices gives `driver` among the character devices, if any.
std::optional<unsigned> CharacterDeviceMajor(std::string_view procDevices, std::string_view driver);

// /dev/hidrawN -> /sys/class/hidraw/hidrawN/device/report_descriptor; nothing for a path of
// any other form.
std::optional<std::filesystem::path> ReportDescriptorPathFor(std::string_view devicePath);

}  // namespace tarvex
