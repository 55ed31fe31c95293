// The version query: asking the device for its firmware version on a worker of its own, one
// query at a time, under the device's lock, and the version text the window shows.

#include "hid/ReportSenders.h"
#include "update/UpdateEngine.h"

namespace tarvex {

std::string CUpdateEngine::VersionText() const {
    std::lock_guard lock(m_VersionTextLock);
    return m_VersionText;
}

void CUpdateEngine::ShowVersionText(bool show) {
    m_View.SetVersionText(show ? VersionText() : "");
}

void CUpdateEngine::StartDueVersionQuery() {
    if (m_bVersionQueryDue.load()) {
        StartVersionQuery();
    }
}

void CUpdateEngine::StartVersionQuery() {
    m_bVersionQueryDue.store(false);
    if (m_Hid.DriveModePresent() || m_bShutdown.load()) {
        return;
    }
    // A query is a report too: none goes to a device that another program is updating. During
    // this program's own run the run's lock is shared.
    std::optional<DeviceLocks> locks = LockDevices({m_Hid.DevicePath()});
    if (!locks) {
        return;
    }
    m_Shared.DeviceVersion.store(kDeviceVersionUnknown);
    // During a run the query shares the run's connection: opening a fresh one would reset the
    // transfer's short read time-out and could drop a reply queued on the old handle.
    if (!UpdateRunActive() && !m_Hid.OpenDevice()) {
        return;
    }
    DeviceLocks replaced;  // let go after the guard below
    {
        std::lock_guard lock(m_VersionQueryLock);
        // The query holds the locks of the device it asks until it has stopped reading.
        replaced.swap(m_VersionQueryLocks);
        m_VersionQueryLocks = std::move(*locks);
        if (m_bVersionQueryRunning) {
            // Every arrival notice comes here; a second query beside the first would only read
            // the same connection, and a device that never answers would gather them for ever.
            m_bVersionAskAgain.store(true);
            return;
        }
        m_bVersionQueryRunning = true;
    }
    ++m_VersionQueriesReading;
    m_Workers.Start([this] { VersionQueryWorker(); });
}

void CUpdateEngine::VersionQueryWorker() {
    // Counted in by StartVersionQuery, before this thread could be late to say so itself.
    struct CountedOut {
        std::atomic<int>& Count;
        ~CountedOut() { --Count; }
    } countedOut{m_VersionQueriesReading};
    for (;;) {
        m_bVersionAskAgain.store(false);
        AskDeviceVersion();
        DeviceLocks released;  // let go after the guard below
        std::lock_guard lock(m_VersionQueryLock);
        if (m_bVersionAskAgain.load() && !m_bShutdown.load()) {
            continue;
        }
        m_bVersionQueryRunning = false;
        released.swap(m_VersionQueryLocks);
        return;
    }
}

void CUpdateEngine::AskDeviceVersion() {
    m_Shared.DeviceVersion.store(kDeviceVersionUnknown);
    // As in a run, a report that was not written ends the exchange: whatever comes back then
    // cannot be taken as the answer to it.
    if (SendCommand(m_Hid, kSendModeReport, kCommandVersionQuery) != HidIoStatus::Ok) {
        return;
    }
    const auto deadline = Now() + kVersionQueryLimit;
    IoFailures failures;
    while (m_Shared.DeviceVersion.load() == kDeviceVersionUnknown && !m_bShutdown.load() &&
           !m_bVersionAskAgain.load()) {
        // A query to a device that went away ends quietly; the notices update the window.
        if (ReceivePass(0, failures) == PassResult::DeviceGone) {
            return;
        }
        // Unanswered: the version stays unknown, and a later arrival asks again.
        if (Now() >= deadline) {
            return;
        }
    }
}

}  // namespace tarvex
