#pragma once
// The vendor and product numbers in a USB device's instance ID, such as
// USB\VID_3A7E&PID_6A01\5&2C1E0B7&0&3: the hexadecimal digits right after the first "VID_" and
// after the first "PID_". Windows has always written the prefixes in capitals, and they are
// matched that way: "vid_" does not count. The digits may be of either case.
//
// Pure, and built on every system so that its tests run on both.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvex {

struct UsbIds {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
};

// At most four digits are read after each prefix ("VID_3A7E5" is vendor 0x3A7E); nothing when a
// prefix is missing or not followed right away by a hexadecimal digit.
std::optional<UsbIds> ParseUsbInstanceId(std::wstring_view instanceId);

// Whether the instance ID names a whole USB device (USB\VID_3A7E&PID_6A01\SERIAL), as the USB
// device list reports it, rather than one interface of a composite device (...&MI_00\...) or a
// device of another bus (USBSTOR\DISK&...). Matched in capitals, as Windows writes them.
bool IsUsbDeviceInstanceId(std::wstring_view instanceId);

// Of a device node's ancestors' instance IDs, nearest first, the one of the USB device that
// holds it; empty when none is a USB device (a disk on another bus).
std::wstring_view HoldingUsbDevice(std::span<const std::wstring> ancestorIds);

}  // namespace tarvex
