#include "history/RunDevice.h"

#include "hid/DeviceIdentity.h"

namespace tarvex {

std::optional<DeviceRecord> DescribeRunDevice(const CHid& hid, CHidPort& hidPort,
                                              CUsbDeviceList& usbDevices) {
    if (hid.DriveModePresent()) {
        for (const UsbDeviceInfo& device : usbDevices.ListUsbDevices()) {
            if (IsDriveModeDevice(device.VendorId, device.ProductId)) {
                return DeviceRecord{"drive", device.VendorId, device.ProductId, device.SerialNumber,
                                    device.SystemPath};
            }
        }
    }
    const std::string path = hid.DevicePath();
    if (path.empty()) {
        return std::nullopt;
    }
    for (const HidInterfaceInfo& device : hidPort.ListHidInterfaces()) {
        if (device.Path == path) {
            return DeviceRecord{"hid", device.VendorId, device.ProductId, device.SerialNumber,
                                device.Path};
        }
    }
    return DeviceRecord{"hid", kTargetVendorId, kUpdateDeviceProductId, {}, path};
}

}  // namespace tarvex
