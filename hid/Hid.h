#pragma once
// CHid: the tool's one handle on the update device.
//
// Threads: DetectDevice and OpenDevice run on the window's thread and on the update worker;
// ReadReport runs on the receive loops (one at a time, see CUpdateEngine); WriteReport on any
// worker. All members are atomics or guarded by the locks named beside them, so every
// operation may be called from any thread.
//
// A connection replaced by a later OpenDevice stays open until the last read still using it
// returns: readers hold their own shared reference for the length of one read.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "hid/ReportLayout.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/HidPort.h"
#include "platform/UsbDeviceList.h"

namespace tarvex {

inline constexpr std::uint32_t kDeviceModeNone = 0;
// An update-ready device is attached: reports move 64 bytes only in this mode.
inline constexpr std::uint32_t kDeviceModeReady = 0x1000;
// The last HID interface examined was not the update device.
inline constexpr std::uint32_t kDeviceModeForeign = 0x1001;

inline constexpr std::chrono::milliseconds kReadTimeoutAfterOpen{200};
inline constexpr std::chrono::milliseconds kReadTimeoutDuringTransfer{10};

class CHid {
public:
    // `notices`, when given, must outlive this object: the first detection that searches for
    // the HID device registers there for HID arrival and removal notices, and destruction
    // withdraws a registration that took.
    CHid(CHidPort& hidPort, CUsbDeviceList& usbDevices, CDeviceNoticeSource* notices = nullptr);
    virtual ~CHid();
    CHid(const CHid&) = delete;
    CHid& operator=(const CHid&) = delete;

    // Whether an updatable device of either kind is attached. Sets DriveModePresent and
    // DeviceMode; on the HID path also the device path, DevicePresent and, the first time, the
    // notice registration (attempted once, whether or not it takes). Detections never
    // overlap, and DeviceMode is published once per detection, so report I/O on a worker never
    // sees the passing "foreign" value of an interface examined on the way.
    bool DetectDevice();

    // Searches the HID interfaces for the update device; the first accepted one wins and its
    // path is kept. Returns the probe connection (still open) on success, null otherwise.
    // `mode` carries DeviceMode through the search; the caller publishes it.
    std::unique_ptr<CHidConnection> OpenHidDevice(std::uint32_t& mode);

    // Opens a fresh connection to the remembered path and resets the read time-out to 200 ms.
    bool OpenDevice();
    void CloseDevice();

    // Reads one input report within the read time-out. On Ok, bytes 1..63 of the report are in
    // buffer[0..62]; any other status delivers nothing.
    HidIoStatus ReadReport(std::span<std::uint8_t, kHidReportSize> buffer);

    // Sends report ID 0x81 followed by `body` (at most 63 bytes), zero-padded to 64 bytes.
    HidIoStatus WriteReport(std::span<const std::uint8_t> body);

    // Writes several reports back to back with no other thread's report between them; stops at
    // the first that fails and returns its status.
    HidIoStatus WriteReportSequence(const std::vector<ReportBody>& bodies);

    void SetReadTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds ReadTimeout() const;

    std::uint32_t DeviceMode() const { return m_DeviceMode.load(); }
    bool DriveModePresent() const { return m_bDriveModePresent.load(); }
    bool DevicePresent() const { return m_bDevicePresent.load(); }
    std::string DevicePath() const;
    // Why the last OpenDevice failed, or why the last search skipped an interface that carried
    // the update device's IDs (None when nothing of the kind happened).
    HidOpenError LastOpenError() const { return m_LastOpenError.load(); }
    HidOpenError UpdateDeviceOpenError() const { return m_UpdateDeviceOpenError.load(); }
    // Whether a detection has reached the HID search and so attempted the notice registration.
    bool NotifyRegistered() const { return m_bNotifyRegistered.load(); }

private:
    std::shared_ptr<CHidConnection> CurrentConnection() const;
    std::size_t ReportSize() const;

    CHidPort& m_HidPort;
    CUsbDeviceList& m_UsbDevices;
    CDeviceNoticeSource* const m_pNotices;

    std::mutex m_DetectLock;  // one detection at a time
    std::atomic<std::uint32_t> m_DeviceMode{kDeviceModeNone};
    std::atomic<bool> m_bDriveModePresent{false};
    std::atomic<bool> m_bDevicePresent{false};
    std::atomic<HidOpenError> m_LastOpenError{HidOpenError::None};
    std::atomic<HidOpenError> m_UpdateDeviceOpenError{HidOpenError::None};
    std::atomic<bool> m_bNotifyRegistered{false};  // written under m_DetectLock
    std::atomic<bool> m_bHidNoticesTaken{false};   // the registration took

    mutable std::mutex m_StateLock;  // guards m_DevicePath and m_pConnection
    std::string m_DevicePath;
    std::shared_ptr<CHidConnection> m_pConnection;

    std::mutex m_WriteLock;  // two threads' reports never interleave
    std::atomic<std::uint32_t> m_ReadTimeoutMs{0};
};

}  // namespace tarvex
