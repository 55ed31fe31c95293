#pragma once
// The present USB devices through libudev: every device of subsystem "usb" and type
// "usb_device" (not its interfaces), with vendor and product ID from the sysfs attributes
// idVendor and idProduct, and its sysfs path.
//
// Threads: any; each call makes its own udev context.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/UsbDeviceList.h"

namespace tarvex {

// An idVendor or idProduct attribute as the kernel writes it: exactly four hexadecimal digits
// (either case), optionally followed by the line break sysfs ends it with. Anything else is not
// a number the kernel produced and is refused.
std::optional<std::uint16_t> ParseUsbIdAttribute(std::string_view text);

class CUdevUsbDeviceList final : public CUsbDeviceList {
public:
    // In udev's order (by sysfs path). A device without readable IDs, or one that went away
    // while being listed, is left out. Empty when udev cannot be asked at all.
    std::vector<UsbDeviceInfo> ListUsbDevices() override;
};

}  // namespace tarvex
