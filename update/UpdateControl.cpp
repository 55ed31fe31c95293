// Update control: the button and the run slot, start-up and the device notices, the HID update
// run's start, its worker and its close. The receive loop's pass and the routing of replies are
// in ReportDispatch.cpp, the version query in VersionQuery.cpp, a run's guards in RunGuards.cpp.

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

}  // namespace tarvex
