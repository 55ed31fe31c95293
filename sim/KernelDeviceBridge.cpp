#include "sim/KernelDeviceBridge.h"

namespace tarvex::sim {

namespace {

// How long a pump waits before it looks at its stop flag again.
constexpr std::chrono::milliseconds kPumpSlice{50};
// Endpoint failures in a row after which the host side is taken as gone.
constexpr int kMaxEndpointFailures = 20;

}  // namespace

CKernelDeviceBridge::CKernelDeviceBridge(CVirtualUpdateDevice& device, CHidDeviceEndpoint& endpoint,
                                         std::chrono::milliseconds inputPatience)
    : m_Device(device), m_Endpoint(endpoint), m_InputPatience(inputPatience) {}

CKernelDeviceBridge::~CKernelDeviceBridge() {
    Stop();
}

void CKernelDeviceBridge::Start() {
    if (m_HostToDevice.joinable() || m_DeviceToHost.joinable()) {
        return;
    }
    m_bStop.store(false);
    m_HostToDevice = std::thread([this] { PumpHostToDevice(); });
    m_DeviceToHost = std::thread([this] { PumpDeviceToHost(); });
}

void CKernelDeviceBridge::Stop() {
    m_bStop.store(true);
    if (m_HostToDevice.joinable()) {
        m_HostToDevice.join();
    }
    if (m_DeviceToHost.joinable()) {
        m_DeviceToHost.join();
    }
}

bool CKernelDeviceBridge::Unplugged() const {
    std::lock_guard lock(m_Lock);
    return m_bUnplugged;
}

bool CKernelDeviceBridge::WaitUntilUnplugged(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_Lock);
    return m_UnpluggedChanged.wait_for(lock, timeout, [&] { return m_bUnplugged; });
}

void CKernelDeviceBridge::UnplugEndpoint() {
    // Both pumps notice the device going; the plug is pulled once.
    if (m_bPlugPulled.exchange(true)) {
        return;
    }
    m_Endpoint.Unplug();
    std::lock_guard lock(m_Lock);
    m_bUnplugged = true;
    m_UnpluggedChanged.notify_all();
}

void CKernelDeviceBridge::PumpHostToDevice() {
    int failures = 0;
    while (!m_bStop.load()) {
        HidReport report{};
        const EndpointStatus status = m_Endpoint.ReadOutputReport(report, kPumpSlice);
        if (status == EndpointStatus::Gone) {
            return;
        }
        if (status == EndpointStatus::Failed) {
            // A gadget unbound from outside fails its reads; do not spin on it.
            if (++failures >= kMaxEndpointFailures) {
                return;
            }
            std::this_thread::sleep_for(kPumpSlice);
            continue;
        }
        failures = 0;
        if (status != EndpointStatus::Ok) {
            continue;
        }
        ++m_OutputReports;
        m_Device.ReceiveOutputReport(report);
        if (!m_Device.Attached()) {
            // A Disappear fault: the device leaves while it takes this report.
            UnplugEndpoint();
            return;
        }
    }
}

void CKernelDeviceBridge::PumpDeviceToHost() {
    while (!m_bStop.load()) {
        HidReport report{};
        const HidIoStatus status = m_Device.SendInputReport(report, kPumpSlice);
        if (status == HidIoStatus::DeviceGone) {
            UnplugEndpoint();
            return;
        }
        if (status != HidIoStatus::Ok) {
            continue;
        }
        // The pumps must not stall behind a report nobody takes.
        const auto giveUp = std::chrono::steady_clock::now() + m_InputPatience;
        for (;;) {
            const EndpointStatus written = m_Endpoint.WriteInputReport(report, kPumpSlice);
            if (written == EndpointStatus::Ok) {
                ++m_InputReports;
                break;
            }
            if (written == EndpointStatus::Gone) {
                return;
            }
            if (m_bStop.load() || written == EndpointStatus::Failed ||
                std::chrono::steady_clock::now() > giveUp) {
                ++m_InputReportsLost;
                break;
            }
        }
    }
}

}  // namespace tarvex::sim
