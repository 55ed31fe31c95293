#pragma once
// Device interface classes the Windows backends ask for by value.

#include <windows.h>

#include <setupapi.h>

#include <optional>
#include <string>

#include "platform/windows/DeviceChangeNotice.h"

namespace tarvex {

// The published interface class of USB devices, {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
inline constexpr GUID kUsbDeviceInterfaceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The HID interface class, as the HID library names it.
GUID HidInterfaceClass();

// Registers `window` for WM_DEVICECHANGE notices about the device interfaces of one class;
// null when the system refused (its plug-and-play service may still be starting).
HDEVNOTIFY RegisterForInterfaceClass(HWND window, const GUID& interfaceClass);

// The path of one listed device interface, read from its detail record; with `device` given,
// also the record of the device that offers it. Nothing when the record cannot be read.
std::optional<std::wstring> DeviceInterfacePath(HDEVINFO set,
                                                SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                SP_DEVINFO_DATA* device = nullptr);

// The interface class a WM_DEVICECHANGE message's record (its lParam) is about.
NoticeInterfaceClass InterfaceClassOfBroadcast(LPARAM record);

}  // namespace tarvex
