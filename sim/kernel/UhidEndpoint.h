#pragma once
// A HID device made through /dev/uhid: the kernel creates a HID device (and its hidraw node)
// whose other end is this object. The quickest real device there is: no USB bus in between,
// so the host sees no USB parent (hidapi then knows no interface number or manufacturer).

#include <atomic>
#include <filesystem>
#include <mutex>

#include "platform/linux/ScopedFd.h"
#include "sim/kernel/HidDeviceEndpoint.h"

namespace tarvex {

class CUhidEndpoint final : public CHidDeviceEndpoint {
public:
    // Opens `uhidNode` and creates the device; the hidraw node follows a few milliseconds later.
    static EndpointOpenResult Create(const HidDeviceDescription& description,
                                     const std::filesystem::path& uhidNode = "/dev/uhid");
    ~CUhidEndpoint() override;

    EndpointStatus ReadOutputReport(HidReport& report, std::chrono::milliseconds timeout) override;
    EndpointStatus WriteInputReport(std::span<const std::uint8_t> report,
                                    std::chrono::milliseconds timeout) override;
    void Unplug() override;
    bool Plugged() const override { return m_bPlugged.load(); }
    std::string HostNode() const override;

private:
    CUhidEndpoint(CScopedFd fd, std::string uniq);
    // One whole event per write, under the lock, so that nothing follows the destroy event.
    bool WriteEventLocked(const void* event, std::size_t size);

    CScopedFd m_Fd;
    const std::string m_Uniq;
    std::atomic<bool> m_bPlugged{true};
    std::mutex m_WriteLock;
};

}  // namespace tarvex
