#pragma once
// What one WM_DEVICECHANGE message means to the engine, on the message-only window of the
// Windows notice source. That window is registered for two device interface classes: the USB
// device class from the start, and the HID class once CHid asks for HID notices. A message-only
// window receives no broadcasts, so the system's own tree-changed notice (DBT_DEVNODES_CHANGED)
// never reaches it; the arrival or removal of any USB device stands in for it, as any USB event
// does for the udev monitor on Linux.
//
// Pure, and built on every system so that its tests run on both.

#include <cstdint>
#include <vector>

namespace tarvex {

// The device interface class a notice is about, from its DEV_BROADCAST_DEVICEINTERFACE record.
enum class NoticeInterfaceClass {
    None,  // the message carries no device interface record
    Hid,   // the HID interface class
    Usb,   // the USB device interface class
    Other,
};

// The notices (kDeviceNodesChanged, kDeviceArrival, kDeviceRemoveComplete) that `event` (the
// message's wParam) about `interfaceClass` gives, in order; empty for anything else.
// `bHidNoticesRegistered` is false before CHid registered and after it withdrew: HID arrivals
// and removals that come then are dropped, as the Linux monitor drops them.
std::vector<std::uint32_t> NoticesForDeviceChange(std::uint32_t event,
                                                  NoticeInterfaceClass interfaceClass,
                                                  bool bHidNoticesRegistered);

}  // namespace tarvex
