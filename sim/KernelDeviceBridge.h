#pragma once
// Puts the virtual update device behind a real HID device of the kernel: output reports the
// host writes go from the endpoint into CVirtualUpdateDevice, its replies go back out as input
// reports. The protocol, the faults and the record all stay in CVirtualUpdateDevice; this class
// only moves reports, and pulls the endpoint's plug when the device takes itself away (a
// Disappear fault or Unplug), so that the host sees a real removal.
//
// Threads: two pumps of its own, started by Start and joined by Stop (and the destructor).
// The other members may be called from any thread.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/VirtualUpdateDevice.h"
#include "sim/kernel/HidDeviceEndpoint.h"

namespace tarvex::sim {

inline constexpr std::chrono::milliseconds kDefaultInputPatience{2000};

class CKernelDeviceBridge {
public:
    // An input report the host does not take within `inputPatience` is dropped (counted in
    // InputReportsLost), as a real device's would be when nobody reads it.
    CKernelDeviceBridge(CVirtualUpdateDevice& device, CHidDeviceEndpoint& endpoint,
                        std::chrono::milliseconds inputPatience = kDefaultInputPatience);
    ~CKernelDeviceBridge();
    CKernelDeviceBridge(const CKernelDeviceBridge&) = delete;
    CKernelDeviceBridge& operator=(const CKernelDeviceBridge&) = delete;

    void Start();
    // Stops both pumps and joins them. The endpoint is left as it is.
    void Stop();

    // Whether the device took itself away and the endpoint was unplugged for it.
    bool Unplugged() const;
    // Waits until Unplugged or until `timeout` passed; returns Unplugged.
    bool WaitUntilUnplugged(std::chrono::milliseconds timeout);

    // Reports moved each way, and input reports the endpoint would not take.
    std::size_t OutputReportsForwarded() const { return m_OutputReports.load(); }
    std::size_t InputReportsForwarded() const { return m_InputReports.load(); }
    std::size_t InputReportsLost() const { return m_InputReportsLost.load(); }

private:
    void PumpHostToDevice();
    void PumpDeviceToHost();
    void UnplugEndpoint();

    CVirtualUpdateDevice& m_Device;
    CHidDeviceEndpoint& m_Endpoint;
    const std::chrono::milliseconds m_InputPatience;

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bPlugPulled{false};
    std::atomic<std::size_t> m_OutputReports{0};
    std::atomic<std::size_t> m_InputReports{0};
    std::atomic<std::size_t> m_InputReportsLost{0};

    mutable std::mutex m_Lock;
    std::condition_variable m_UnpluggedChanged;
    bool m_bUnplugged = false;

    std::thread m_HostToDevice;
    std::thread m_DeviceToHost;
};

}  // namespace tarvex::sim
