#pragma once
// Which USB devices this tool updates.

#include <array>
#include <cstdint>

namespace tarvex {

inline constexpr std::uint16_t kTargetVendorId = 0x3A7E;
inline constexpr std::uint16_t kUpdateDeviceProductId = 0x6A11;
inline constexpr std::array<std::uint16_t, 6> kDriveModeProductIds = {0x6A01, 0x6A02, 0x6A03,
                                                                      0x6A04, 0x6A05, 0x6A06};

// True exactly for the HID update device.
constexpr bool ClassifyHidDevice(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kTargetVendorId && productId == kUpdateDeviceProductId;
}

constexpr bool IsDriveModeDevice(std::uint16_t vendorId, std::uint16_t productId) {
    if (vendorId != kTargetVendorId) {
        return false;
    }
    for (const auto id : kDriveModeProductIds) {
        if (id == productId) {
            return true;
        }
    }
    return false;
}

}  // namespace tarvex
