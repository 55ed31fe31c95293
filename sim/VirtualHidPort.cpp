#include "sim/VirtualHidPort.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "platform/HidReportFraming.h"

namespace tarvex::sim {

namespace {

// An open interface of some other product: it takes every report and never says anything, as
// a keyboard's or a headset's interface would to our packets.
class CForeignConnection final : public CHidConnection {
public:
    HidIoStatus ReadInputReport(HidReport& /*report*/, std::chrono::milliseconds timeout) override {
        if (timeout.count() > 0) {
            std::this_thread::sleep_for(timeout);
        }
        return HidIoStatus::TimedOut;
    }

    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
        return CheckOutputReport(report);
    }
};

// A connection to the virtual update device, valid for the session it was opened in only: a
// real handle does not survive the device being unplugged, even when the device comes back.
class CUpdateDeviceConnection final : public CHidConnection {
public:
    CUpdateDeviceConnection(std::shared_ptr<CVirtualUpdateDevice> device, std::uint64_t session,
                            bool bNumbered)
        : m_pDevice(std::move(device)), m_Session(session), m_bNumbered(bNumbered) {}

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
        HidReport sent{};
        const HidIoStatus status = m_pDevice->SendInputReport(sent, timeout, m_Session);
        if (status != HidIoStatus::Ok) {
            return status;
        }
        // What a read of the device node would deliver: the ID byte only from a device that
        // numbers its reports. From there on the framing is the hidraw backend's own.
        const auto delivered = std::span<const std::uint8_t>(sent).subspan(m_bNumbered ? 0 : 1);
        report = FrameInputReport(delivered, m_bNumbered);
        return HidIoStatus::Ok;
    }

    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
        if (CheckOutputReport(report) != HidIoStatus::Ok) {
            return HidIoStatus::Failed;
        }
        return m_pDevice->ReceiveOutputReport(report, m_Session);
    }

private:
    const std::shared_ptr<CVirtualUpdateDevice> m_pDevice;
    const std::uint64_t m_Session;
    const bool m_bNumbered;
};

}  // namespace

void CVirtualHidPort::AttachUpdateDevice(std::shared_ptr<CVirtualUpdateDevice> device) {
    std::lock_guard lock(m_Lock);
    std::erase_if(m_Devices, [](const AttachedDevice& attached) {
        return attached.Info.Path == kVirtualUpdateDevicePath;
    });
    m_Devices.insert(m_Devices.begin(), {{kVirtualUpdateDevicePath, kTargetVendorId,
                                          kUpdateDeviceProductId, kVirtualUpdateDeviceSerial},
                                         std::move(device)});
}

void CVirtualHidPort::AttachUpdateDeviceAt(const std::string& path, const std::string& serial,
                                           std::shared_ptr<CVirtualUpdateDevice> device) {
    std::lock_guard lock(m_Lock);
    m_Devices.push_back(
        {{path, kTargetVendorId, kUpdateDeviceProductId, serial}, std::move(device)});
}

void CVirtualHidPort::AddForeignInterface(std::uint16_t vendorId, std::uint16_t productId,
                                          bool first) {
    std::lock_guard lock(m_Lock);
    const std::size_t number = m_ForeignBefore.size() + m_ForeignAfter.size();
    HidInterfaceInfo info{"virtual:foreign-" + std::to_string(number), vendorId, productId, {}};
    (first ? m_ForeignBefore : m_ForeignAfter).push_back(std::move(info));
}

void CVirtualHidPort::SetOpenError(HidOpenError error) {
    std::lock_guard lock(m_Lock);
    m_OpenError = error;
}

void CVirtualHidPort::SetInputReportsNumbered(bool numbered) {
    std::lock_guard lock(m_Lock);
    m_bInputNumbered = numbered;
}

std::vector<HidInterfaceInfo> CVirtualHidPort::ListHidInterfaces() {
    std::lock_guard lock(m_Lock);
    std::vector<HidInterfaceInfo> interfaces = m_ForeignBefore;
    for (const auto& attached : m_Devices) {
        if (attached.Device && attached.Device->Attached()) {
            interfaces.push_back(attached.Info);
        }
    }
    interfaces.insert(interfaces.end(), m_ForeignAfter.begin(), m_ForeignAfter.end());
    return interfaces;
}

HidOpenResult CVirtualHidPort::OpenHidInterface(const std::string& path) {
    std::lock_guard lock(m_Lock);
    for (const auto& attached : m_Devices) {
        if (attached.Info.Path != path) {
            continue;
        }
        if (!attached.Device || !attached.Device->Attached()) {
            return {nullptr, HidOpenError::NotFound};
        }
        if (m_OpenError != HidOpenError::None) {
            return {nullptr, m_OpenError};
        }
        // Should the device be unplugged right now, the connection is simply born dead.
        return {std::make_unique<CUpdateDeviceConnection>(
                    attached.Device, attached.Device->Session(), m_bInputNumbered),
                HidOpenError::None};
    }
    const auto hasPath = [&](const HidInterfaceInfo& info) { return info.Path == path; };
    if (std::any_of(m_ForeignBefore.begin(), m_ForeignBefore.end(), hasPath) ||
        std::any_of(m_ForeignAfter.begin(), m_ForeignAfter.end(), hasPath)) {
        return {std::make_unique<CForeignConnection>(), HidOpenError::None};
    }
    return {nullptr, HidOpenError::NotFound};
}

void CVirtualUsbDeviceList::AddDevice(std::uint16_t vendorId, std::uint16_t productId,
                                      const std::string& serial) {
    char name[32];
    std::snprintf(name, sizeof name, "virtual:usb-%04x:%04x", vendorId, productId);
    std::string systemPath = name;
    if (!serial.empty()) {
        systemPath += "-" + serial;
    }
    std::lock_guard lock(m_Lock);
    m_Devices.push_back({vendorId, productId, std::move(systemPath), serial});
}

void CVirtualUsbDeviceList::RemoveDevice(std::uint16_t vendorId, std::uint16_t productId) {
    std::lock_guard lock(m_Lock);
    const auto found = std::find_if(m_Devices.begin(), m_Devices.end(), [&](const auto& device) {
        return device.VendorId == vendorId && device.ProductId == productId;
    });
    if (found != m_Devices.end()) {
        m_Devices.erase(found);
    }
}

std::vector<UsbDeviceInfo> CVirtualUsbDeviceList::ListUsbDevices() {
    std::lock_guard lock(m_Lock);
    return m_Devices;
}

}  // namespace tarvex::sim
