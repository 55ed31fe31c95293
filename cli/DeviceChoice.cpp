#include "cli/DeviceChoice.h"

#include <cstdio>

#include "hid/DeviceIdentity.h"
#include "platform/DeviceNames.h"

namespace tarvex {

namespace {

const char* KindName(UpdatableDeviceKind kind) {
    return kind == UpdatableDeviceKind::Drive ? "drive" : "hid";
}

std::string EscapedField(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '\\') {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

bool MatchesDeviceChoice(const std::string& node, const std::string& serialNumber,
                         const std::string& choice) {
    return choice.empty() || SameDeviceName(choice, node) ||
           (!serialNumber.empty() &&
            (choice == serialNumber || choice == EscapedField(serialNumber)));
}

std::vector<UpdatableDevice> FindUpdatableDevices(CHidPort& hidPort, CUsbDeviceList& usbDevices,
                                                  const std::string& choice) {
    std::vector<UpdatableDevice> found;
    for (const auto& device : usbDevices.ListUsbDevices()) {
        if (IsDriveModeDevice(device.VendorId, device.ProductId) &&
            MatchesDeviceChoice(device.SystemPath, device.SerialNumber, choice)) {
            found.push_back({UpdatableDeviceKind::Drive, device.VendorId, device.ProductId,
                             device.SystemPath, device.SerialNumber});
        }
    }
    for (const auto& hidInterface : hidPort.ListHidInterfaces()) {
        if (ClassifyHidDevice(hidInterface.VendorId, hidInterface.ProductId) &&
            MatchesDeviceChoice(hidInterface.Path, hidInterface.SerialNumber, choice)) {
            found.push_back({UpdatableDeviceKind::Hid, hidInterface.VendorId,
                             hidInterface.ProductId, hidInterface.Path, hidInterface.SerialNumber});
        }
    }
    return found;
}

std::string DeviceLine(const UpdatableDevice& device) {
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", device.VendorId, device.ProductId);
    return std::string(KindName(device.Kind)) + ' ' + id + ' ' + device.Node +
           " serial=" + EscapedField(device.SerialNumber);
}

void PrintDeviceLines(const std::vector<UpdatableDevice>& devices, std::ostream& out) {
    for (const auto& device : devices) {
        out << DeviceLine(device) << '\n';
    }
}

CChosenHidPort::CChosenHidPort(CHidPort& inner, std::string choice)
    : m_Inner(inner), m_Choice(std::move(choice)) {}

std::vector<HidInterfaceInfo> CChosenHidPort::ListHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces = m_Inner.ListHidInterfaces();
    std::erase_if(interfaces, [&](const HidInterfaceInfo& info) {
        return ClassifyHidDevice(info.VendorId, info.ProductId) &&
               !MatchesDeviceChoice(info.Path, info.SerialNumber, m_Choice);
    });
    return interfaces;
}

HidOpenResult CChosenHidPort::OpenHidInterface(const std::string& path) {
    return m_Inner.OpenHidInterface(path);
}

CChosenUsbDeviceList::CChosenUsbDeviceList(CUsbDeviceList& inner, std::string choice)
    : m_Inner(inner), m_Choice(std::move(choice)) {}

std::vector<UsbDeviceInfo> CChosenUsbDeviceList::ListUsbDevices() {
    std::vector<UsbDeviceInfo> devices = m_Inner.ListUsbDevices();
    std::erase_if(devices, [&](const UsbDeviceInfo& device) {
        return IsDriveModeDevice(device.VendorId, device.ProductId) &&
               !MatchesDeviceChoice(device.SystemPath, device.SerialNumber, m_Choice);
    });
    return devices;
}

}  // namespace tarvex
