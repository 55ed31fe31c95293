#include "platform/windows/WinDeviceClasses.h"

#include <dbt.h>

#include <vector>

// The HID library's headers in mingw-w64 lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

namespace tarvex {

namespace {

// A detail record that fails to read is sized again for itself this many times before the
// interface is given up (it may be changing while listed).
constexpr int kDetailAttempts = 3;

}  // namespace

std::optional<std::wstring> DeviceInterfacePath(HDEVINFO set,
                                                SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                SP_DEVINFO_DATA* device) {
    for (int attempt = 0; attempt < kDetailAttempts; ++attempt) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            return std::nullopt;
        }
        // DWORD-aligned storage for the record, whose size field counts only its fixed head.
        std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr,
                                               device)) {
            return std::wstring(detail->DevicePath);
        }
    }
    return std::nullopt;
}

GUID HidInterfaceClass() {
    GUID hidClass{};
    ::HidD_GetHidGuid(&hidClass);
    return hidClass;
}

HDEVNOTIFY RegisterForInterfaceClass(HWND window, const GUID& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    return ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

NoticeInterfaceClass InterfaceClassOfBroadcast(LPARAM record) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return NoticeInterfaceClass::None;
    }
    const auto* deviceInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(record);
    if (IsEqualGUID(deviceInterface->dbcc_classguid, HidInterfaceClass())) {
        return NoticeInterfaceClass::Hid;
    }
    if (IsEqualGUID(deviceInterface->dbcc_classguid, kUsbDeviceInterfaceClass)) {
        return NoticeInterfaceClass::Usb;
    }
    return NoticeInterfaceClass::Other;
}

}  // namespace tarvex
