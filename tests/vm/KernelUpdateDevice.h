#pragma once
// The virtual update device plugged into this machine's kernel from inside a test: uhid or a
// USB gadget, with the protocol and faults of CVirtualUpdateDevice behind it. Unplugs itself
// when it goes away.

#include <memory>
#include <ostream>
#include <string>

#include "sim/KernelDeviceBridge.h"
#include "sim/VirtualUpdateDevice.h"
#include "sim/kernel/HidDeviceEndpoint.h"

namespace tarvex::testing {

enum class KernelTransport { Uhid, Gadget };

const char* ToString(KernelTransport transport);
// For GoogleTest's names of parameterised cases.
void PrintTo(KernelTransport transport, std::ostream* out);

// Why a test cannot make kernel devices here, or empty when it can. The tests that need them
// skip with this reason.
std::string KernelDevicesUnavailable(KernelTransport transport);

class CKernelUpdateDevice {
public:
    explicit CKernelUpdateDevice(KernelTransport transport);
    ~CKernelUpdateDevice();

    // Makes the kernel device and waits until the host's hidraw node exists; false (with
    // Error) when that fails.
    bool Plug(std::uint16_t vendorId, std::uint16_t productId);
    bool Plug();
    // Takes the device away as its plug would; the host sees the removal.
    void Unplug();

    sim::CVirtualUpdateDevice& Device() { return *m_pDevice; }
    sim::CKernelDeviceBridge* Bridge() { return m_pBridge.get(); }
    const std::string& HostNode() const { return m_HostNode; }
    const std::string& Error() const { return m_Error; }

private:
    const KernelTransport m_Transport;
    std::unique_ptr<sim::CVirtualUpdateDevice> m_pDevice;
    std::unique_ptr<CHidDeviceEndpoint> m_pEndpoint;
    std::unique_ptr<sim::CKernelDeviceBridge> m_pBridge;
    std::string m_HostNode;
    std::string m_Error;
};

}  // namespace tarvex::testing
