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

CDemoDevices::CDemoDevices(const DemoOptions& options) : m_VolumeWait(options.VolumeWait) {
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
        if (options.Volume == DemoVolume::Untied) {
            m_UsbDevices.AddDevice(kTargetVendorId, kDriveModeProductIds[1]);
        }
        if (options.Volume != DemoVolume::System) {
            const auto mount = options.Volume == DemoVolume::Late ? sim::VirtualVolumeMount::Late
                               : options.Volume == DemoVolume::Never
                                   ? sim::VirtualVolumeMount::Never
                                   : sim::VirtualVolumeMount::Untied;
            m_pVolume = std::make_unique<sim::CVirtualDriveVolume>(
                mount, m_UsbDevices.ListUsbDevices().front().SystemPath, options.VolumeDelay);
        }
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

DriveCopyServices CDemoDevices::DriveCopy(const FileSystemServices& system) {
    DriveCopyServices services{system.Volumes.get(), &m_UsbDevices, system.FileWriter.get(),
                               system.StagingFolder};
    if (m_pVolume) {
        // Nothing real is written: not even the copy kept for the user.
        services = DriveCopyServices{m_pVolume.get(), &m_UsbDevices, m_pVolume.get(), {}};
    }
    if (m_VolumeWait) {
        services.VolumeWaitLimit = *m_VolumeWait;
    }
    return services;
}

}  // namespace tarvex
