#include "hid/Hid.h"

#include <algorithm>

#include "hid/DeviceIdentity.h"

namespace tarvex {

CHid::CHid(CHidPort& hidPort, CUsbDeviceList& usbDevices, CDeviceNoticeSource* notices)
    : m_HidPort(hidPort), m_UsbDevices(usbDevices), m_pNotices(notices) {}

CHid::~CHid() {
    if (m_bHidNoticesTaken.load()) {
        m_pNotices->UnregisterHidNotices();
    }
}

std::shared_ptr<CHidConnection> CHid::CurrentConnection() const {
    std::lock_guard lock(m_StateLock);
    return m_pConnection;
}

std::string CHid::DevicePath() const {
    std::lock_guard lock(m_StateLock);
    return m_DevicePath;
}

std::size_t CHid::ReportSize() const {
    return m_DeviceMode.load() == kDeviceModeReady ? kHidReportSize : 0;
}

bool CHid::DetectDevice() {
    std::lock_guard detectLock(m_DetectLock);

    bool driveMode = false;
    for (const auto& device : m_UsbDevices.ListUsbDevices()) {
        driveMode = driveMode || IsDriveModeDevice(device.VendorId, device.ProductId);
    }
    m_bDriveModePresent.store(driveMode);
    if (driveMode) {
        // A drive-mode device wins; the HID side is left as the last search found it.
        m_DeviceMode.store(kDeviceModeReady);
        return true;
    }

    std::uint32_t mode = m_DeviceMode.load();
    const auto probe = OpenHidDevice(mode);
    m_DeviceMode.store(mode);
    // After the search, also a failed one: arrivals are what the window waits for next.
    if (!m_bNotifyRegistered.exchange(true) && m_pNotices != nullptr) {
        m_bHidNoticesTaken.store(m_pNotices->RegisterHidNotices());
    }
    m_bDevicePresent.store(probe != nullptr);
    return probe != nullptr;
}

std::unique_ptr<CHidConnection> CHid::OpenHidDevice(std::uint32_t& mode) {
    HidOpenError updateDeviceError = HidOpenError::None;
    for (const auto& info : m_HidPort.ListHidInterfaces()) {
        auto opened = m_HidPort.OpenHidInterface(info.Path);
        if (!opened.Connection) {
            // Skipped like any interface that will not open, but remembered when it carries the
            // update device's IDs: the user can usually fix that (permissions).
            if (ClassifyHidDevice(info.VendorId, info.ProductId) &&
                updateDeviceError == HidOpenError::None) {
                updateDeviceError = opened.Error;
            }
            continue;
        }
        const bool accepted = ClassifyHidDevice(info.VendorId, info.ProductId);
        mode = accepted ? kDeviceModeReady : kDeviceModeForeign;
        if (accepted) {
            {
                std::lock_guard lock(m_StateLock);
                m_DevicePath = info.Path;
            }
            m_UpdateDeviceOpenError.store(HidOpenError::None);
            return std::move(opened.Connection);
        }
    }
    m_UpdateDeviceOpenError.store(updateDeviceError);
    return nullptr;
}

bool CHid::OpenDevice() {
    const std::string path = DevicePath();
    if (path.empty()) {
        m_LastOpenError.store(HidOpenError::NotFound);
        return false;
    }
    auto opened = m_HidPort.OpenHidInterface(path);
    m_LastOpenError.store(opened.Error);
    if (!opened.Connection) {
        return false;
    }
    {
        std::lock_guard lock(m_StateLock);
        m_pConnection = std::move(opened.Connection);
    }
    SetReadTimeout(kReadTimeoutAfterOpen);
    return true;
}

void CHid::CloseDevice() {
    std::lock_guard lock(m_StateLock);
    m_pConnection.reset();
}

HidIoStatus CHid::ReadReport(std::span<std::uint8_t, kHidReportSize> buffer) {
    // Take the connection once: a concurrent OpenDevice may replace it while this read waits.
    const auto connection = CurrentConnection();
    if (!connection) {
        return HidIoStatus::NoHandle;
    }
    HidReport report{};
    const HidIoStatus status = connection->ReadInputReport(report, ReadTimeout());
    if (status != HidIoStatus::Ok) {
        return status;
    }
    if (ReportSize() == 0) {
        // No update-ready device: nothing moves, and a report read now is not handed on.
        return HidIoStatus::TimedOut;
    }
    std::copy(report.begin() + 1, report.end(), buffer.begin());
    buffer[kHidReportSize - 1] = 0;
    return HidIoStatus::Ok;
}

HidIoStatus CHid::WriteReport(std::span<const std::uint8_t> body) {
    return WriteReportSequence({ReportBody(body.begin(), body.end())});
}

HidIoStatus CHid::WriteReportSequence(const std::vector<ReportBody>& bodies) {
    const auto connection = CurrentConnection();
    if (!connection) {
        return HidIoStatus::NoHandle;
    }
    if (ReportSize() == 0) {
        return HidIoStatus::Failed;
    }
    std::lock_guard writeLock(m_WriteLock);
    for (const auto& body : bodies) {
        if (body.size() > kHidReportSize - 1) {
            return HidIoStatus::Failed;
        }
        HidReport report{};
        report[0] = kOutputReportId;
        std::copy(body.begin(), body.end(), report.begin() + 1);
        const HidIoStatus status = connection->WriteOutputReport(report);
        if (status != HidIoStatus::Ok) {
            return status;
        }
    }
    return HidIoStatus::Ok;
}

void CHid::SetReadTimeout(std::chrono::milliseconds timeout) {
    m_ReadTimeoutMs.store(static_cast<std::uint32_t>(timeout.count()));
}

std::chrono::milliseconds CHid::ReadTimeout() const {
    return std::chrono::milliseconds(m_ReadTimeoutMs.load());
}

}  // namespace tarvex
