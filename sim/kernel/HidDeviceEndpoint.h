#pragma once
// The device's end of one HID interface: where a device program takes the output reports the
// host writes and hands over the input reports the host reads. The Linux backends serve it
// through /dev/uhid (a HID device made by the kernel on request) or through a USB gadget's
// /dev/hidgN (a real USB device on a virtual bus); sim/ puts the virtual update device behind
// it, so that the updater meets the device through the system's own HID stack.
//
// Threads: one reader (ReadOutputReport) and one writer (WriteInputReport) may run at once;
// Unplug may come from any thread, also while the other two wait.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex {

// What the host is told about the device.
struct HidDeviceDescription {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::string Manufacturer;
    std::string Product;
    // Also the device's unique ID on the host side, which is how a program finds the hidraw
    // node the host made for it; choose one that no other device carries.
    std::string Serial;
    std::vector<std::uint8_t> ReportDescriptor;
    std::size_t ReportLength = kHidReportSize;
};

enum class EndpointStatus { Ok, TimedOut, Gone, Failed };

class CHidDeviceEndpoint {
public:
    virtual ~CHidDeviceEndpoint() = default;

    // Waits at most `timeout` for the next output report the host wrote: report ID first,
    // zero-padded to 64 bytes. Gone once the device was unplugged.
    virtual EndpointStatus ReadOutputReport(HidReport& report,
                                            std::chrono::milliseconds timeout) = 0;

    // Hands one input report (report ID first) to the host, waiting at most `timeout` for room.
    virtual EndpointStatus WriteInputReport(std::span<const std::uint8_t> report,
                                            std::chrono::milliseconds timeout) = 0;

    // Takes the device away, as pulling its plug would; the host sees it removed. Calling it
    // again does nothing.
    virtual void Unplug() = 0;
    virtual bool Plugged() const = 0;

    // The hidraw node the host made for this device ("/dev/hidrawN"), empty if none (yet).
    virtual std::string HostNode() const = 0;
};

struct EndpointOpenResult {
    std::unique_ptr<CHidDeviceEndpoint> Endpoint;
    std::string Error;  // why there is none
};

}  // namespace tarvex
