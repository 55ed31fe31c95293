#pragma once
// Finding the host's side of a device that a device program made: the hidraw node of a HID
// device and the block device of a USB mass-storage device, both recognised by the unique ID
// (USB serial number) the program gave them. Reads sysfs only, so it works without udevd.
// `sysfsRoot` lets tests hand in a tree of their own.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvex {

// The whole text of a small sysfs file (at most 4 KiB), empty when it cannot be read.
std::string ReadSysfsFile(const std::filesystem::path& path);

// The value of `key` in a uevent file's text (KEY=value lines), empty when absent.
std::string UeventValue(std::string_view uevent, std::string_view key);

// "/dev/hidrawN" of the HID device whose unique ID (HID_UNIQ) is `uniq`, or empty.
std::string FindHidrawNodeByUniq(std::string_view uniq,
                                 const std::filesystem::path& sysfsRoot = "/sys");

// "/dev/sdX" of the whole disk whose USB device has the serial number `serial`, or empty.
std::string FindBlockNodeByUsbSerial(std::string_view serial,
                                     const std::filesystem::path& sysfsRoot = "/sys");

}  // namespace tarvex
