#include "platform/linux/UdevUsbDeviceList.h"

#include <cstring>

#include "platform/linux/UdevHandles.h"

namespace tarvex {

namespace {

constexpr std::size_t kUsbIdDigits = 4;

std::optional<std::uint8_t> HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> UsbIdOf(udev_device* device, const char* attribute) {
    const char* value = udev_device_get_sysattr_value(device, attribute);
    if (value == nullptr) {
        return std::nullopt;
    }
    return ParseUsbIdAttribute(value);
}

}  // namespace

std::optional<std::uint16_t> ParseUsbIdAttribute(std::string_view text) {
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    if (text.size() != kUsbIdDigits) {
        return std::nullopt;
    }
    std::uint16_t value = 0;
    for (const char c : text) {
        const auto digit = HexDigitValue(c);
        if (!digit) {
            return std::nullopt;
        }
        value = static_cast<std::uint16_t>((value << 4) | *digit);
    }
    return value;
}

std::vector<UsbDeviceInfo> CUdevUsbDeviceList::ListUsbDevices() {
    const UdevContextPtr context(udev_new());
    if (!context) {
        return {};
    }
    const UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "usb") < 0 ||
        udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_device") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return {};
    }
    std::vector<UsbDeviceInfo> devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevDevicePtr device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) {
            continue;  // unplugged since the scan
        }
        const char* type = udev_device_get_devtype(device.get());
        if (type == nullptr || std::strcmp(type, "usb_device") != 0) {
            continue;
        }
        const auto vendorId = UsbIdOf(device.get(), "idVendor");
        const auto productId = UsbIdOf(device.get(), "idProduct");
        if (!vendorId || !productId) {
            continue;
        }
        const char* serial = udev_device_get_sysattr_value(device.get(), "serial");
        devices.push_back({*vendorId, *productId, udev_device_get_syspath(device.get()),
                           serial != nullptr ? serial : ""});
    }
    return devices;
}

}  // namespace tarvex
