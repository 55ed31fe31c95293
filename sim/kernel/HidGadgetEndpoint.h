#pragma once
// A HID device on a real (virtual) USB bus: a configfs gadget with one HID function, bound to a
// USB device controller such as dummy_hcd's. The device program reads the host's output reports
// from /dev/hidgN and writes input reports there; the host sees a USB device with interface 0,
// strings and a USB parent, as it would see the real product.

#include <atomic>
#include <memory>

#include "platform/linux/ScopedFd.h"
#include "sim/kernel/ConfigfsGadget.h"
#include "sim/kernel/HidDeviceEndpoint.h"

namespace tarvex {

class CHidGadgetEndpoint final : public CHidDeviceEndpoint {
public:
    // Makes the gadget `gadgetName`, binds it (to `controller`, or to the first free one) and
    // opens its /dev/hidgN. The host's hidraw node follows about half a second later.
    static EndpointOpenResult Create(const HidDeviceDescription& description,
                                     const std::string& gadgetName,
                                     const std::string& controller = {});
    ~CHidGadgetEndpoint() override;

    EndpointStatus ReadOutputReport(HidReport& report, std::chrono::milliseconds timeout) override;
    EndpointStatus WriteInputReport(std::span<const std::uint8_t> report,
                                    std::chrono::milliseconds timeout) override;
    // Unbinds the gadget from its controller: the host sees the USB device removed.
    void Unplug() override;
    bool Plugged() const override { return m_bPlugged.load(); }
    std::string HostNode() const override;

private:
    CHidGadgetEndpoint(std::unique_ptr<CConfigfsGadget> gadget, CScopedFd fd, std::string serial);

    std::unique_ptr<CConfigfsGadget> m_pGadget;
    CScopedFd m_Fd;
    const std::string m_Serial;
    std::atomic<bool> m_bPlugged{true};
};

}  // namespace tarvex
