#include "app/DemoDevices.h"

#include "hid/DeviceIdentity.h"

namespace tarvex {

namespace {

// Every device's lock is held by some other program.
class CLockedElsewhere final : public CDeviceLocks {
public:
    DeviceLockResult TryLock(const std::string&) override {
        DeviceLockResult result;
        result.Error = DeviceLockError::Busy;
        result.Message = "held by another program (demo)";
        return result;
    }
};

}  // namespace

CDemoDevices::CDemoDevices(const DemoOptions& options) {
    const sim::VirtualDeviceOptions& device = options.Device;
    auto updateDevice = std::make_shared<sim::CVirtualUpdateDevice>(device.FirmwareVersion);
    updateDevice->SetReplyLatency(device.ReplyLatency);
    updateDevice->SetSilent(device.Silent);
    for (const auto& fault : device.Faults) {
        updateDevice->SetPacketFault(fault.PacketNumber, fault.Fault, fault.FailureCode);
    }
    if (options.Unplugged) {
        // Nothing attached.
    } else if (options.DriveMode) {
        m_UsbDevices.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    } else {
        m_HidPort.AttachUpdateDevice(updateDevice);
    }
    if (options.OpenDenied) {
        m_HidPort.SetOpenError(HidOpenError::PermissionDenied);
    }
    if (options.Busy) {
        m_pLocks = std::make_unique<CLockedElsewhere>();
    }
}

}  // namespace tarvex
