#include "platform/windows/WinDeviceClasses.h"

#include <dbt.h>

// The HID library's headers in mingw-w64 lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

namespace tarvex {

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
