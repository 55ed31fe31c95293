#pragma once
// Which attached device the terminal program updates. The lines of --list, the match of
// --device=NODE|SERIAL, and views of the HID and USB lists in which, of the updatable devices,
// only those that match the choice are attached: detection, the drive copy and --wait then see
// the chosen device alone, and the engine needs to know nothing of the choice.
//
// An empty choice matches every device.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/HidPort.h"
#include "platform/UsbDeviceList.h"

namespace tarvex {

enum class UpdatableDeviceKind { Hid, Drive };

struct UpdatableDevice {
    UpdatableDeviceKind Kind = UpdatableDeviceKind::Hid;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    // The HID update device's interface path (its hidraw node); the drive-mode device's USB
    // system path.
    std::string Node;
    std::string SerialNumber;  // empty when the device reports none
};

// The updatable devices attached now that match `choice`: drive-mode devices, then HID update
// devices, each in its list's order.
std::vector<UpdatableDevice> FindUpdatableDevices(CHidPort& hidPort, CUsbDeviceList& usbDevices,
                                                  const std::string& choice = {});

// --list's line: KIND VVVV:PPPP NODE serial=SERIAL. The first three fields are what the line
// always held; the serial number's blanks, backslashes and other bytes outside printable ASCII
// are written as \xHH, so that the line stays four fields.
std::string DeviceLine(const UpdatableDevice& device);
void PrintDeviceLines(const std::vector<UpdatableDevice>& devices, std::ostream& out);

// Whether `choice` names the device: its node as the system compares device names (on Windows
// in any case), or its serial number, byte for byte or as --list writes it.
bool MatchesDeviceChoice(const std::string& node, const std::string& serialNumber,
                         const std::string& choice);

// The HID interfaces of `inner`, less the update-device interfaces that do not match `choice`.
class CChosenHidPort final : public CHidPort {
public:
    CChosenHidPort(CHidPort& inner, std::string choice);
    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;

private:
    CHidPort& m_Inner;
    const std::string m_Choice;
};

// The USB devices of `inner`, less the drive-mode devices that do not match `choice`.
class CChosenUsbDeviceList final : public CUsbDeviceList {
public:
    CChosenUsbDeviceList(CUsbDeviceList& inner, std::string choice);
    std::vector<UsbDeviceInfo> ListUsbDevices() override;

private:
    CUsbDeviceList& m_Inner;
    const std::string m_Choice;
};

}  // namespace tarvex
