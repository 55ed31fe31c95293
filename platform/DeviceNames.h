#pragma once
// Comparing the system's names for devices (an HID interface path, a USB device's system path),
// as the user types them after --device. Linux: platform/linux/DeviceNames.cpp; Windows:
// platform/windows/DeviceNames.cpp.
//
// Threads: any.

#include <string_view>

namespace tarvex {

// Whether `a` and `b` (UTF-8) name the same device: byte for byte on Linux, whose paths tell
// the case of every letter apart; with case ignored on Windows, whose device paths do not
// (a device interface path is listed in lower case, its instance ID in capitals).
bool SameDeviceName(std::string_view a, std::string_view b);

}  // namespace tarvex
