#pragma once
// Present USB devices, as far as detection needs them: vendor and product ID of each.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

struct UsbDeviceInfo {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    // The system's own name for the device (a sysfs path on Linux); used to tie a volume to it.
    std::string SystemPath;
    // The device's serial number as it reports it; empty when it reports none.
    std::string SerialNumber;
};

class CUsbDeviceList {
public:
    virtual ~CUsbDeviceList() = default;
    virtual std::vector<UsbDeviceInfo> ListUsbDevices() = 0;
};

}  // namespace tarvex
