#pragma once
// The demo's devices: the built-in virtual device as the demo's options shape it, and what it
// stands in for around it (the device notices, another program holding the device's lock).
// Shared by the demo programs of every window.

#include <memory>
#include <optional>

#include "app/DemoOptions.h"
#include "platform/DeviceLock.h"
#include "platform/SystemServices.h"
#include "sim/VirtualDeviceNotices.h"
#include "sim/VirtualDriveVolume.h"
#include "sim/VirtualHidPort.h"
#include "update/DriveCopy.h"

namespace tarvex {

class CDemoDevices {
public:
    explicit CDemoDevices(const DemoOptions& options);
    CDemoDevices(const CDemoDevices&) = delete;
    CDemoDevices& operator=(const CDemoDevices&) = delete;

    sim::CVirtualHidPort& HidPort() { return m_HidPort; }
    sim::CVirtualUsbDeviceList& UsbDevices() { return m_UsbDevices; }
    sim::CVirtualDeviceNotices& Notices() { return m_Notices; }
    // Null unless another program is to hold the device's lock (--busy).
    CDeviceLocks* DeviceLocks() { return m_pLocks.get(); }
    // What a drive-mode run copies onto: the system's volumes (`system`), or the volume in
    // memory that the options asked for.
    DriveCopyServices DriveCopy(const FileSystemServices& system);

private:
    sim::CVirtualHidPort m_HidPort;
    sim::CVirtualUsbDeviceList m_UsbDevices;
    sim::CVirtualDeviceNotices m_Notices;
    std::unique_ptr<CDeviceLocks> m_pLocks;
    std::unique_ptr<sim::CVirtualDriveVolume> m_pVolume;
    std::optional<std::chrono::seconds> m_VolumeWait;
};

}  // namespace tarvex
