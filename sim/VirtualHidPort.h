#pragma once
// Virtual HID and USB device lists: the same interfaces the real backends implement, so that the
// engine, the detection and the front ends run unchanged against the virtual device.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HidPort.h"
#include "platform/UsbDeviceList.h"
#include "sim/VirtualUpdateDevice.h"

namespace tarvex::sim {

inline constexpr const char* kVirtualUpdateDevicePath = "virtual:hid-update-device";
inline constexpr const char* kVirtualUpdateDeviceSerial = "VIRTUAL-6A11";

class CVirtualHidPort final : public CHidPort {
public:
    // Lists the update device (vendor 0x3A7E, product 0x6A11) while it is attached, at
    // kVirtualUpdateDevicePath with kVirtualUpdateDeviceSerial; replaces the one attached there.
    void AttachUpdateDevice(std::shared_ptr<CVirtualUpdateDevice> device);
    // Another update device, at its own path and with its own serial number, listed after those
    // attached before it: several of them plugged in at once.
    void AttachUpdateDeviceAt(const std::string& path, const std::string& serial,
                              std::shared_ptr<CVirtualUpdateDevice> device);
    // Another HID interface that opens but is not ours; listed before the update device when
    // `first` is true.
    void AddForeignInterface(std::uint16_t vendorId, std::uint16_t productId, bool first = true);
    // Makes opening the update device fail with `error` (None lets it open again).
    void SetOpenError(HidOpenError error);
    // false: the update device sends its input reports without the report ID in front, as one
    // whose report descriptor declares no Report ID does. Applies to connections opened later.
    void SetInputReportsNumbered(bool numbered);

    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;

private:
    struct AttachedDevice {
        HidInterfaceInfo Info;
        std::shared_ptr<CVirtualUpdateDevice> Device;
    };

    mutable std::mutex m_Lock;
    std::vector<AttachedDevice> m_Devices;
    std::vector<HidInterfaceInfo> m_ForeignBefore;
    std::vector<HidInterfaceInfo> m_ForeignAfter;
    HidOpenError m_OpenError = HidOpenError::None;
    bool m_bInputNumbered = true;
};

class CVirtualUsbDeviceList final : public CUsbDeviceList {
public:
    // Its system path is virtual:usb-VVVV:PPPP, followed by -SERIAL when it has a serial number.
    void AddDevice(std::uint16_t vendorId, std::uint16_t productId, const std::string& serial = {});
    void RemoveDevice(std::uint16_t vendorId, std::uint16_t productId);
    std::vector<UsbDeviceInfo> ListUsbDevices() override;

private:
    mutable std::mutex m_Lock;
    std::vector<UsbDeviceInfo> m_Devices;
};

}  // namespace tarvex::sim
