#include "tests/vm/KernelUpdateDevice.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "sim/UpdateDeviceDescriptor.h"
#include "sim/kernel/HidGadgetEndpoint.h"
#include "sim/kernel/UhidEndpoint.h"
#include "tests/update/EngineTestSupport.h"

namespace tarvex::testing {

namespace {

// Serial numbers tell this process's devices apart from each other and from any other's.
std::string NextSerial() {
    static std::atomic<unsigned> counter{0};
    return "t" + std::to_string(::getpid()) + "n" + std::to_string(counter++);
}

}  // namespace

const char* ToString(KernelTransport transport) {
    return transport == KernelTransport::Uhid ? "uhid" : "gadget";
}

void PrintTo(KernelTransport transport, std::ostream* out) {
    *out << ToString(transport);
}

std::string KernelDevicesUnavailable(KernelTransport transport) {
    if (!std::filesystem::exists("/dev/uhid")) {
        return "needs /dev/uhid (a kernel with uhid, as in the test guest: "
               "bash tests/vm/run-vm-tests.sh)";
    }
    if (::access("/dev/uhid", R_OK | W_OK) != 0) {
        return "needs read and write access to /dev/uhid (root)";
    }
    if (transport == KernelTransport::Gadget) {
        std::error_code error;
        if (!std::filesystem::is_directory("/sys/kernel/config/usb_gadget") ||
            std::filesystem::is_empty("/sys/class/udc", error) || error) {
            return "needs configfs USB gadgets and a USB device controller (dummy_hcd)";
        }
    }
    return {};
}

CKernelUpdateDevice::CKernelUpdateDevice(KernelTransport transport)
    : m_Transport(transport), m_pDevice(std::make_unique<sim::CVirtualUpdateDevice>()) {}

CKernelUpdateDevice::~CKernelUpdateDevice() {
    Unplug();
}

bool CKernelUpdateDevice::Plug() {
    return Plug(kTargetVendorId, kUpdateDeviceProductId);
}

bool CKernelUpdateDevice::Plug(std::uint16_t vendorId, std::uint16_t productId) {
    Unplug();
    m_pDevice->Plug();
    const std::string serial = NextSerial();
    const HidDeviceDescription description = sim::DescribeUpdateDevice(serial, vendorId, productId);
    EndpointOpenResult opened = m_Transport == KernelTransport::Uhid
                                    ? CUhidEndpoint::Create(description)
                                    : CHidGadgetEndpoint::Create(description, "tarvex-" + serial);
    if (!opened.Endpoint) {
        m_Error = opened.Error;
        return false;
    }
    m_pEndpoint = std::move(opened.Endpoint);
    m_pBridge = std::make_unique<sim::CKernelDeviceBridge>(*m_pDevice, *m_pEndpoint);
    m_pBridge->Start();
    const bool appeared = WaitUntil([&] {
        m_HostNode = m_pEndpoint->HostNode();
        return !m_HostNode.empty();
    });
    if (!appeared) {
        m_Error = "the host made no hidraw node";
    }
    return appeared;
}

void CKernelUpdateDevice::Unplug() {
    if (!m_pEndpoint) {
        return;
    }
    m_pDevice->Unplug();
    m_pBridge.reset();  // joins the pumps, of which one pulled the endpoint's plug
    m_pEndpoint->Unplug();
    m_pEndpoint.reset();
    m_HostNode.clear();
}

}  // namespace tarvex::testing
