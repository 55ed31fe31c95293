// Update control and report dispatch: the button, the version query, the two worker threads
// with their shared receive loop, and the routing of every reply.

#include "hid/ReportSenders.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

const char* ToString(UpdateOutcome outcome) {
    switch (outcome) {
        case UpdateOutcome::Succeeded:
            return "succeeded";
        case UpdateOutcome::Failed:
            return "failed";
        case UpdateOutcome::Cancelled:
            return "cancelled";
        case UpdateOutcome::ImageRefused:
            return "image refused";
    }
    return "unknown";
}

CUpdateEngine::CUpdateEngine(CHid& hid, CUpdateView& view, const CUiLanguage& language,
                             DriveCopyServices driveCopy, RunGuardServices guards)
    : m_Hid(hid),
      m_View(view),
      m_Language(language),
      m_DriveCopy(std::move(driveCopy)),
      m_Guards(guards) {}

CUpdateEngine::~CUpdateEngine() {
    Shutdown();
}

std::string CUpdateEngine::Text(std::int32_t index) const {
    return LoadLocalizedString(index, m_Language);
}

std::string CUpdateEngine::VersionText() const {
    std::lock_guard lock(m_VersionTextLock);
    return m_VersionText;
}

void CUpdateEngine::ShowVersionText(bool show) {
    m_View.SetVersionText(show ? VersionText() : "");
}

void CUpdateEngine::WatchStopRequest(const std::atomic<bool>& stopRequested) {
    m_pStopRequest.store(&stopRequested);
}

void CUpdateEngine::SetDeviceSilenceLimit(std::chrono::milliseconds limit) {
    m_SilenceLimitMs.store(limit.count());
}

void CUpdateEngine::SetClock(SteadyNow now) {
    m_Now = std::move(now);
}

std::chrono::steady_clock::time_point CUpdateEngine::Now() const {
    return m_Now ? m_Now() : std::chrono::steady_clock::now();
}

bool CUpdateEngine::StopRequested() const {
    const std::atomic<bool>* pStop = m_pStopRequest.load();
    return m_bShutdown.load() || (pStop != nullptr && pStop->load());
}

bool CUpdateEngine::RunActive(std::uint64_t run) const {
    return m_Shared.UpdateStopped.load() == 0 && m_RunInProgress.load() == run;
}

std::uint64_t CUpdateEngine::TakeRunSlot() {
    const std::uint64_t run = ++m_LastRunId;
    std::uint64_t idle = 0;
    return m_RunInProgress.compare_exchange_strong(idle, run) ? run : 0;
}

void CUpdateEngine::ShowUpdateButton(bool enable) {
    // Runs start on the window's thread, where the notices that call this arrive too, so the
    // slot cannot be taken between the look and the call.
    if (!enable || !RunInProgress()) {
        m_View.EnableUpdateButton(enable);
    }
}

void CUpdateEngine::CloseRun(std::uint64_t run, UpdateOutcome outcome) {
    if (!m_bShutdown.load()) {
        // The run still holds the slot: its own refresh is the one that may enable the button,
        // and no press can start a run before it has.
        const bool found = m_Hid.DetectDevice();
        m_View.EnableUpdateButton(found || UpdateDeviceLocked());
        ShowVersionText(found);
    }
    // Before the slot is free: once a view hears of the end, this run holds nothing.
    ReleaseRunGuards();
    m_RunInProgress.compare_exchange_strong(run, 0);
    m_View.OnUpdateRunEnded(outcome);
}

void CUpdateEngine::Initialise(VersionQueryStart queryStart) {
    m_View.SetProgress(0);
    {
        std::lock_guard lock(m_ReceiveLock);
        m_Transfer = TransferContext{};
    }
    m_Shared.UpdateStopped.store(1);
    m_Shared.DeviceVersion.store(kDeviceVersionUnknown);
    m_Shared.TransferState.store(kStatePayloadSent);

    if (m_Hid.DetectDevice()) {
        if (m_Hid.DeviceMode() == kDeviceModeReady) {
            ShowUpdateButton(true);
            ShowVersionText(true);
            if (queryStart == VersionQueryStart::Now) {
                StartVersionQuery();
            } else {
                m_bVersionQueryDue.store(true);
            }
        }
    } else {
        ShowUpdateButton(UpdateDeviceLocked());
        ShowVersionText(false);
    }
}

void CUpdateEngine::StartDueVersionQuery() {
    if (m_bVersionQueryDue.load()) {
        StartVersionQuery();
    }
}

bool CUpdateEngine::UpdateDeviceLocked() const {
    return !m_Hid.DevicePresent() && !m_Hid.DriveModePresent() &&
           m_Hid.UpdateDeviceOpenError() == HidOpenError::PermissionDenied;
}

void CUpdateEngine::ShowPermissionNotice() {
    // A notice waits for the user; the window's thread never does, so a worker shows it.
    m_Workers.Start([this] {
        m_View.ShowPrompt(Text(DeviceAccessDeniedText(SystemHidAccessRemedy())), kPromptNotice);
    });
}

std::optional<CUpdateEngine::DeviceLocks> CUpdateEngine::LockDevices(
    const std::vector<std::string>& devices) {
    DeviceLocks locks;
    if (m_Guards.pDeviceLocks == nullptr) {
        return locks;
    }
    for (const auto& device : devices) {
        if (device.empty()) {
            continue;
        }
        DeviceLockResult result = m_Guards.pDeviceLocks->TryLock(device);
        if (result.Error == DeviceLockError::Busy) {
            return std::nullopt;
        }
        // Unavailable: the system cannot lock it, and refusing would make a device that cannot
        // be locked one that cannot be updated.
        if (result.Held()) {
            locks.push_back(std::move(result.Lock));
        }
    }
    return locks;
}

void CUpdateEngine::ShowDeviceBusyNotice() {
    m_bDeviceBusy.store(true);
    m_Workers.Start([this] { m_View.ShowPrompt(Text(kTextDeviceBusy), kPromptNotice); });
}

void CUpdateEngine::BlockSleepForRun() {
    if (m_Guards.pSleepInhibitor == nullptr) {
        return;
    }
    // No block (no bus, no login manager, refused): the run goes on, as it would on a system
    // without them.
    SleepBlockResult result =
        m_Guards.pSleepInhibitor->BlockSleep(Text(kTextTitle), Text(kTextSleepBlockReason));
    std::lock_guard lock(m_RunGuardLock);
    m_pRunSleepBlock = std::move(result.Block);
}

void CUpdateEngine::ReleaseRunGuards() {
    DeviceLocks locks;
    std::unique_ptr<CSleepBlock> block;
    {
        std::lock_guard lock(m_RunGuardLock);
        locks.swap(m_RunDeviceLocks);
        block.swap(m_pRunSleepBlock);
    }
    // Let go outside the lock: the system may take its time to hear of it.
}

bool CUpdateEngine::OnUsbUpdate() {
    if (RunInProgress() || StopRequested()) {
        return false;
    }
    m_bDeviceBusy.store(false);
    if (m_Hid.DriveModePresent()) {
        return StartDriveCopy();
    }
    // A device this user may not open is not tried through a path an earlier detection left.
    if (UpdateDeviceLocked()) {
        ShowPermissionNotice();
        return false;
    }
    // Before anything is opened or written: a device that another program is updating is left
    // to it.
    std::optional<DeviceLocks> locks = LockDevices({m_Hid.DevicePath()});
    if (!locks) {
        ShowDeviceBusyNotice();
        return false;
    }
    // hidraw gives every open handle its own copy of each input report. A version query still
    // reading on its handle would take the device's answer to the update request from there
    // while the run's loop took it again from a fresh handle (two file dialogs, two headers), so
    // the run shares the query's connection and only gets the read time-out an open would set.
    if (m_VersionQueriesReading.load() > 0) {
        m_Hid.SetReadTimeout(kReadTimeoutAfterOpen);
    } else if (!m_Hid.OpenDevice()) {
        if (m_Hid.LastOpenError() == HidOpenError::PermissionDenied) {
            ShowPermissionNotice();
        }
        return false;
    }
    const std::uint64_t run = BeginUpdateRun();
    if (run == 0) {
        return false;
    }
    {
        std::lock_guard lock(m_RunGuardLock);
        m_RunDeviceLocks = std::move(*locks);
    }
    m_Workers.Start([this, run] { UpdateWorker(run); });
    return true;
}

std::uint64_t CUpdateEngine::BeginUpdateRun() {
    const std::uint64_t run = TakeRunSlot();
    if (run == 0) {
        return 0;
    }
    m_RunOutcome.store(UpdateOutcome::Failed);
    // Before the run becomes active: a receive loop that sees the run must not see the last
    // run's transfer state with it.
    m_Shared.TransferState.store(kStateNoImage);
    m_Shared.UpdateStopped.store(0);
    m_View.EnableUpdateButton(false);
    return run;
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

void CUpdateEngine::OnDeviceChange(std::uint32_t eventType) {
    switch (eventType & 0xFFFF) {
        case kDeviceNodesChanged: {
            const bool found = m_Hid.DetectDevice();
            if (!found) {
                ShowUpdateButton(UpdateDeviceLocked());
                ShowVersionText(false);
            } else if (m_Hid.DeviceMode() == kDeviceModeReady) {
                ShowUpdateButton(true);
                ShowVersionText(true);
            }
            break;
        }
        case kDeviceArrival: {
            const bool found = m_Hid.DetectDevice();
            if (found && m_Hid.DeviceMode() == kDeviceModeReady) {
                ShowUpdateButton(true);
                ShowVersionText(true);
                StartVersionQuery();
            } else if (UpdateDeviceLocked()) {
                ShowUpdateButton(true);
            }
            break;
        }
        case kDeviceRemoveComplete:
            // Still "ready" after a failed detection only when no HID interface opened at all.
            if (!m_Hid.DetectDevice() && m_Hid.DeviceMode() == kDeviceModeReady &&
                !UpdateDeviceLocked()) {
                m_View.EnableUpdateButton(false);
                ShowVersionText(false);
            }
            break;
        default:
            break;
    }
}

void CUpdateEngine::RefreshDeviceState() {
    const bool found = m_Hid.DetectDevice();
    ShowUpdateButton(found || UpdateDeviceLocked());
    ShowVersionText(found);
}

void CUpdateEngine::Shutdown() {
    m_bShutdown.store(true);
    m_Workers.JoinAll();
    std::lock_guard lock(m_ReceiveLock);
    m_Transfer.Image = {};
}

CUpdateEngine::PassResult CUpdateEngine::ReceivePass(std::uint64_t run, IoFailures& failures) {
    HidIoStatus read;
    {
        std::lock_guard lock(m_ReceiveLock);
        // The run may have ended while this loop waited for the lock (another loop handled its
        // last reply): what comes now is not this run's to read.
        if (run != 0 && !RunActive(run)) {
            return PassResult::RunOver;
        }
        read = m_Hid.ReadReport(m_InputReport);
        if (read == HidIoStatus::Ok) {
            HandleDeviceReport(kSendModeReport, m_InputReport);
        }
    }
    if (read == HidIoStatus::DeviceGone || read == HidIoStatus::NoHandle) {
        return PassResult::DeviceGone;
    }
    const bool readFailed = read != HidIoStatus::Ok && read != HidIoStatus::TimedOut;
    failures.FailedReads = readFailed ? failures.FailedReads + 1 : 0;
    if (read != HidIoStatus::Ok) {
        const HidIoStatus poll = SendRequest(m_Hid, kRequestPoll, 0);
        if (poll == HidIoStatus::DeviceGone || poll == HidIoStatus::NoHandle) {
            return PassResult::DeviceGone;
        }
        // Only a write that goes through shows the device can still be written to; reports the
        // device keeps sending do not.
        failures.FailedPolls = poll == HidIoStatus::Ok ? 0 : failures.FailedPolls + 1;
    }
    const bool givenUp = failures.FailedPolls >= kMaxConsecutiveIoFailures ||
                         failures.FailedReads >= kMaxConsecutiveIoFailures;
    return givenUp ? PassResult::DeviceGone : PassResult::Continue;
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

void CUpdateEngine::SendUpdateRequest() {
    // The last moment a stop request can keep the device from hearing of the run.
    if (StopRequested()) {
        std::lock_guard lock(m_ReceiveLock);
        EndRun(UpdateOutcome::Cancelled);
        return;
    }
    if (SendRequest(m_Hid, kRequestUpdate, 0) != HidIoStatus::Ok) {
        std::lock_guard lock(m_ReceiveLock);
        FailTransfer();
    }
}

void CUpdateEngine::UpdateWorker(std::uint64_t run) {
    BlockSleepForRun();
    SendUpdateRequest();
    IoFailures failures;
    std::uint64_t stepsSeen = m_RunSteps.load();
    auto lastStep = Now();
    while (RunActive(run) && !StopRequested()) {
        const PassResult pass = ReceivePass(run, failures);
        const auto now = Now();
        if (const std::uint64_t steps = m_RunSteps.load(); steps != stepsSeen) {
            stepsSeen = steps;
            lastStep = now;
        }
        const bool silent = now - lastStep > std::chrono::milliseconds(m_SilenceLimitMs.load());
        if (pass == PassResult::DeviceGone || silent) {
            std::lock_guard lock(m_ReceiveLock);
            if (RunActive(run)) {
                FailTransfer();
            }
        }
    }
    UpdateOutcome outcome;
    {
        // Waits for the loop that ended the run to finish with it (its result message), and
        // ends a run that a stop interrupted.
        std::lock_guard lock(m_ReceiveLock);
        if (RunActive(run)) {
            EndRun(UpdateOutcome::Cancelled);
        }
        outcome = m_RunOutcome.load();
    }
    CloseRun(run, outcome);
}

void CUpdateEngine::DispatchReport(std::span<const std::uint8_t> report) {
    std::lock_guard lock(m_ReceiveLock);
    HandleDeviceReport(kSendModeReport, report);
}

void CUpdateEngine::HandleDeviceReport(std::uint8_t sendMode,
                                       std::span<const std::uint8_t> report) {
    const DeviceReply reply = DecodeDeviceReply(report);
    if (!reply.Marked) {
        return;
    }
    switch (reply.Opcode) {
        case kReplyUpdateReady:
            // Only the run that asked for it may open the file dialog and start a transfer.
            if (!UpdateRunActive()) {
                return;
            }
            if (SelectFirmwareImage(sendMode) == 0 && UpdateRunActive()) {
                StopTransfer();
            }
            break;
        case kReplyCommand:
            if (report.size() > kReportReplyCode - 1) {
                TransferStep(sendMode, report.subspan(kReportReplyCode - 1));
            }
            break;
        case kReplyMemory:
            // The device may declare the update done in any state, but only during a run.
            if (reply.ReplyCode == kMemoryReplySuccess && UpdateRunActive()) {
                if (SendCommand(m_Hid, sendMode, kCommandFinish) != HidIoStatus::Ok) {
                    FailTransfer();
                    return;
                }
                EndRun(UpdateOutcome::Succeeded);
                m_View.ShowPrompt(Text(kTextSuccess), kPromptNotice);
                m_View.SetProgress(0);
            }
            break;
        default:
            break;
    }
}

void CUpdateEngine::EndRun(UpdateOutcome outcome) {
    m_RunOutcome.store(outcome);
    StopTransfer();
}

void CUpdateEngine::StopTransfer() {
    m_Transfer.Image = {};
    m_Shared.UpdateStopped.store(1);
}

// The button comes back with the device refresh at the end of the run's worker: enabled here,
// it would invite a press that the run, still finishing, has to refuse.
void CUpdateEngine::FailTransfer() {
    EndRun(UpdateOutcome::Failed);
    m_View.ShowPrompt(Text(kTextFailure), kPromptNotice);
}

}  // namespace tarvex
