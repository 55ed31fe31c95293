#include "platform/windows/WinHidPort.h"

#include <windows.h>

#include <setupapi.h>
// The HID library's headers in mingw-w64 lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <optional>
#include <vector>

#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinHidConnection.h"

namespace tarvex {

namespace {

// Opened with no access at all: enough for the attributes, and allowed also on interfaces that
// the system holds for itself (keyboards, mice).
std::optional<HIDD_ATTRIBUTES> ReadAttributes(const std::wstring& path) {
    const UniqueHandle probe = AdoptHandle(::CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe) {
        return std::nullopt;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!::HidD_GetAttributes(probe.get(), &attributes)) {
        return std::nullopt;
    }
    return attributes;
}

}  // namespace

std::vector<HidInterfaceInfo> CWinHidPort::ListHidInterfaces() {
    GUID hidClass = HidInterfaceClass();
    const DeviceInfoSet set = AdoptDeviceInfoSet(
        ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    std::vector<HidInterfaceInfo> interfaces;
    if (!set) {
        return interfaces;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &interfaceData)) {
            break;
        }
        const auto path = DeviceInterfacePath(set.get(), interfaceData);
        if (!path) {
            continue;
        }
        const auto attributes = ReadAttributes(*path);
        if (!attributes) {
            continue;
        }
        // No serial number yet: --device picks a device by its path on Windows.
        interfaces.push_back({WideToUtf8(*path), attributes->VendorID, attributes->ProductID, {}});
    }
    return interfaces;
}

HidOpenResult CWinHidPort::OpenHidInterface(const std::string& path) {
    return CWinHidConnection::Open(Utf8ToWide(path));
}

}  // namespace tarvex
