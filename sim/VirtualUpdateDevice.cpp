// The host's side of the virtual update device: output reports in, replies out once their
// latency has passed, and plugging. What the device makes of a report is
// VirtualDeviceProtocol.cpp's.

#include "sim/VirtualUpdateDevice.h"

#include <algorithm>
#include <thread>

#include "sim/VirtualDevicePacket.h"

namespace tarvex::sim {

namespace {

using Clock = std::chrono::steady_clock;

// A timed wait on Linux ends up to the thread's timer slack (50 us by default) after its time
// point, and a little more on a busy machine: at a 1 ms latency that alone would make every
// reply 5 % late. So a reader sleeps only until this long before a reply is due and covers the
// rest by checking the clock, giving up the processor between checks.
constexpr std::chrono::microseconds kWakeAhead{100};

}  // namespace

CVirtualUpdateDevice::CVirtualUpdateDevice(std::uint32_t firmwareVersion)
    : m_FirmwareVersion(firmwareVersion) {}

HidIoStatus CVirtualUpdateDevice::ReceiveOutputReport(std::span<const std::uint8_t> report) {
    return ReceiveOutputReport(report, Session());
}

HidIoStatus CVirtualUpdateDevice::ReceiveOutputReport(std::span<const std::uint8_t> report,
                                                      std::uint64_t session) {
    // Taken before the lock: the reply latency counts from the moment the report came in, not
    // from whenever this thread got the device's attention.
    const auto arrived = Clock::now();
    if (report.empty() || report.size() > kHidReportSize) {
        return HidIoStatus::Failed;
    }
    std::lock_guard lock(m_Lock);
    m_ReportArrived = arrived;
    if (!m_bAttached || session != m_Session) {
        return HidIoStatus::DeviceGone;
    }
    if (RefusesWriteLocked(report)) {
        return HidIoStatus::Failed;
    }
    RecordedReport recorded{ReportDirection::ToDevice, {}};
    std::copy(report.begin(), report.end(), recorded.Bytes.begin());
    m_Record.push_back(recorded);

    // A report with another ID is not meant for the update protocol; the device lets it pass.
    if (recorded.Bytes[0] == kOutputReportId) {
        const std::size_t length = std::min<std::size_t>(recorded.Bytes[1], kPacketRoomPerReport);
        TakePieceLocked(std::span<const std::uint8_t>(recorded.Bytes).subspan(2, length));
    }
    // A Disappear fault unplugs the device while it takes the report.
    return m_bAttached ? HidIoStatus::Ok : HidIoStatus::DeviceGone;
}

HidIoStatus CVirtualUpdateDevice::SendInputReport(HidReport& report,
                                                  std::chrono::milliseconds timeout) {
    return SendInputReport(report, timeout, Session());
}

HidIoStatus CVirtualUpdateDevice::SendInputReport(HidReport& report,
                                                  std::chrono::milliseconds timeout,
                                                  std::uint64_t session) {
    const auto deadline =
        Clock::now() + std::clamp(timeout, std::chrono::milliseconds(0), kLongestWait);
    std::unique_lock lock(m_Lock);
    for (;;) {
        if (!m_bAttached || session != m_Session) {
            return HidIoStatus::DeviceGone;
        }
        const auto now = Clock::now();
        if (!m_bRepliesHeld && !m_Queue.empty() && m_Queue.front().Due <= now) {
            report = m_Queue.front().Bytes;
            m_Queue.pop_front();
            return HidIoStatus::Ok;
        }
        if (now >= deadline) {
            return HidIoStatus::TimedOut;
        }
        // Replies leave in the order they were queued, so only the first one's due time matters.
        const bool replyFirst =
            !m_Queue.empty() && !m_bRepliesHeld && m_Queue.front().Due < deadline;
        if (!replyFirst) {
            m_InputReady.wait_until(lock, deadline);
        } else if (m_Queue.front().Due - now > kWakeAhead) {
            m_InputReady.wait_until(lock, m_Queue.front().Due - kWakeAhead);
        } else {
            // The last stretch before the reply is due: unlocked, so that writes, unplugs and
            // other readers go on meanwhile, and everything is looked at again afterwards.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }
}

void CVirtualUpdateDevice::Unplug() {
    std::lock_guard lock(m_Lock);
    UnplugLocked();
}

void CVirtualUpdateDevice::UnplugLocked() {
    m_bAttached = false;
    m_InputReady.notify_all();
}

void CVirtualUpdateDevice::Plug() {
    std::lock_guard lock(m_Lock);
    // Plugging an attached device counts as a replug: connections of the old session die too.
    m_bAttached = true;
    ++m_Session;
    m_Queue.clear();
    m_AnsweredPackets = 0;
    m_PartialPacket.clear();
    m_PartialExpected = 0;
    m_InputReady.notify_all();
}

bool CVirtualUpdateDevice::Attached() const {
    std::lock_guard lock(m_Lock);
    return m_bAttached;
}

std::uint64_t CVirtualUpdateDevice::Session() const {
    std::lock_guard lock(m_Lock);
    return m_Session;
}

}  // namespace tarvex::sim
