#pragma once
// How the virtual update device presents itself to a real HID stack: IDs, strings and a report
// descriptor with a vendor usage page, one input report (ID 0x01) and one output report (ID
// 0x81), 63 data bytes each, so that reports are 64 bytes both ways with the ID in front.

#include <array>
#include <cstdint>
#include <string>

#include "hid/DeviceIdentity.h"
#include "hid/ReportLayout.h"
#include "sim/VirtualUpdateDevice.h"
#include "sim/kernel/HidDeviceEndpoint.h"

namespace tarvex::sim {

inline constexpr std::uint8_t kReportDataBytes = 63;

// clang-format off
inline constexpr std::array<std::uint8_t, 29> kUpdateDeviceReportDescriptor = {
    0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x15, 0x00,              //   Logical Minimum (0)
    0x26, 0xFF, 0x00,        //   Logical Maximum (255)
    0x75, 0x08,              //   Report Size (8)
    0x95, kReportDataBytes,  //   Report Count (63)
    0x85, kInputReportId,    //   Report ID (0x01)
    0x09, 0x02,              //   Usage (2)
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0x85, kOutputReportId,   //   Report ID (0x81)
    0x09, 0x03,              //   Usage (3)
    0x91, 0x02,              //   Output (Data, Variable, Absolute)
    0xC0,                    // End Collection
};
// clang-format on

// A description of the update device (or, with other IDs, of any device that speaks in the same
// 64-byte reports). `serial` must be unique among the devices present.
inline HidDeviceDescription DescribeUpdateDevice(const std::string& serial,
                                                 std::uint16_t vendorId = kTargetVendorId,
                                                 std::uint16_t productId = kUpdateDeviceProductId) {
    HidDeviceDescription description;
    description.VendorId = vendorId;
    description.ProductId = productId;
    const bool ours = ClassifyHidDevice(vendorId, productId);
    description.Manufacturer = ours ? "Tarvex" : "Other Maker";
    description.Product = ours ? "Update Device" : "Other Device";
    description.Serial = serial;
    description.ReportDescriptor.assign(kUpdateDeviceReportDescriptor.begin(),
                                        kUpdateDeviceReportDescriptor.end());
    description.ReportLength = kHidReportSize;
    return description;
}

}  // namespace tarvex::sim
