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
                             DriveCopyServices driveCopy)
    : m_Hid(hid), m_View(view), m_Language(language), m_DriveCopy(std::move(driveCopy)) {}

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

void CUpdateEngine::Initialise() {
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
            m_View.EnableUpdateButton(true);
            ShowVersionText(true);
            StartVersionQuery();
        }
    } else {
        m_View.EnableUpdateButton(UpdateDeviceLocked());
        ShowVersionText(false);
    }
}

bool CUpdateEngine::UpdateDeviceLocked() const {
    return !m_Hid.DevicePresent() && !m_Hid.DriveModePresent() &&
           m_Hid.UpdateDeviceOpenError() == HidOpenError::PermissionDenied;
}

void CUpdateEngine::ShowPermissionNotice() {
    // A notice waits for the user; the window's thread never does, so a worker shows it.
    m_Workers.Start(
        [this] { m_View.ShowPrompt(Text(kTextDevicePermissionDenied), kPromptNotice); });
}

bool CUpdateEngine::OnUsbUpdate() {
    if (UpdateRunActive() || DriveCopyRunActive() || m_bShutdown.load()) {
        return false;
    }
    if (m_Hid.DriveModePresent()) {
        return StartDriveCopy();
    }
    // A device this user may not open is not tried through a path an earlier detection left.
    if (UpdateDeviceLocked()) {
        ShowPermissionNotice();
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
    BeginUpdateRun();
    m_Workers.Start([this] { UpdateWorker(); });
    return true;
}

void CUpdateEngine::BeginUpdateRun() {
    m_RunOutcome.store(UpdateOutcome::Failed);
    // Before the run becomes active: a receive loop that sees the run must not see the last
    // run's transfer state with it.
    m_Shared.TransferState.store(kStateNoImage);
    m_Shared.UpdateStopped.store(0);
    m_View.EnableUpdateButton(false);
}

void CUpdateEngine::StartVersionQuery() {
    if (m_Hid.DriveModePresent() || m_bShutdown.load()) {
        return;
    }
    m_Shared.DeviceVersion.store(kDeviceVersionUnknown);
    // During a run the query shares the run's connection: opening a fresh one would reset the
    // transfer's short read time-out and could drop a reply queued on the old handle.
    if (!UpdateRunActive() && !m_Hid.OpenDevice()) {
        return;
    }
    ++m_VersionQueriesReading;
    m_Workers.Start([this] { VersionQueryWorker(); });
}

void CUpdateEngine::OnDeviceChange(std::uint32_t eventType) {
    switch (eventType & 0xFFFF) {
        case kDeviceNodesChanged: {
            const bool found = m_Hid.DetectDevice();
            if (!found) {
                m_View.EnableUpdateButton(UpdateDeviceLocked());
                ShowVersionText(false);
            } else if (m_Hid.DeviceMode() == kDeviceModeReady) {
                m_View.EnableUpdateButton(true);
                ShowVersionText(true);
            }
            break;
        }
        case kDeviceArrival: {
            const bool found = m_Hid.DetectDevice();
            if (found && m_Hid.DeviceMode() == kDeviceModeReady) {
                m_View.EnableUpdateButton(true);
                ShowVersionText(true);
                StartVersionQuery();
            } else if (UpdateDeviceLocked()) {
                m_View.EnableUpdateButton(true);
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
    m_View.EnableUpdateButton(found || UpdateDeviceLocked());
    ShowVersionText(found);
}

void CUpdateEngine::Shutdown() {
    m_bShutdown.store(true);
    m_Workers.JoinAll();
    std::lock_guard lock(m_ReceiveLock);
    if (m_Transfer.File.is_open()) {
        m_Transfer.File.close();
    }
}

CUpdateEngine::PassResult CUpdateEngine::ReceivePass(int& consecutiveFailures) {
    HidIoStatus read;
    {
        std::lock_guard lock(m_ReceiveLock);
        read = m_Hid.ReadReport(m_InputReport);
        if (read == HidIoStatus::Ok) {
            HandleDeviceReport(kSendModeReport, m_InputReport);
        }
    }
    if (read == HidIoStatus::Ok) {
        consecutiveFailures = 0;
        return PassResult::Continue;
    }
    if (read == HidIoStatus::DeviceGone || read == HidIoStatus::NoHandle) {
        return PassResult::DeviceGone;
    }
    const HidIoStatus poll = SendRequest(m_Hid, kRequestPoll, 0);
    if (poll == HidIoStatus::DeviceGone || poll == HidIoStatus::NoHandle) {
        return PassResult::DeviceGone;
    }
    const bool bothFailed = read != HidIoStatus::TimedOut && poll != HidIoStatus::Ok;
    consecutiveFailures = bothFailed ? consecutiveFailures + 1 : 0;
    return consecutiveFailures >= kMaxConsecutiveIoFailures ? PassResult::DeviceGone
                                                            : PassResult::Continue;
}

void CUpdateEngine::VersionQueryWorker() {
    // Counted in by StartVersionQuery, before this thread could be late to say so itself.
    struct CountedOut {
        std::atomic<int>& Count;
        ~CountedOut() { --Count; }
    } countedOut{m_VersionQueriesReading};
    m_Shared.DeviceVersion.store(kDeviceVersionUnknown);
    const HidIoStatus sent = SendCommand(m_Hid, kSendModeReport, kCommandVersionQuery);
    if (sent == HidIoStatus::DeviceGone || sent == HidIoStatus::NoHandle) {
        return;
    }
    int failures = 0;
    while (m_Shared.DeviceVersion.load() == kDeviceVersionUnknown && !m_bShutdown.load()) {
        // A query to a device that went away ends quietly; the notices update the window.
        if (ReceivePass(failures) == PassResult::DeviceGone) {
            return;
        }
    }
}

void CUpdateEngine::UpdateWorker() {
    if (SendRequest(m_Hid, kRequestUpdate, 0) != HidIoStatus::Ok) {
        std::lock_guard lock(m_ReceiveLock);
        FailTransfer();
    }
    int failures = 0;
    while (UpdateRunActive() && !m_bShutdown.load()) {
        if (ReceivePass(failures) == PassResult::DeviceGone) {
            std::lock_guard lock(m_ReceiveLock);
            if (UpdateRunActive()) {
                FailTransfer();
            }
        }
    }
    {
        // Waits for the loop that ended the run to finish with it (its result message), and
        // ends a run that shutdown interrupted.
        std::lock_guard lock(m_ReceiveLock);
        if (UpdateRunActive()) {
            EndRun(UpdateOutcome::Cancelled);
        }
    }
    if (!m_bShutdown.load()) {
        RefreshDeviceState();
    }
    m_View.OnUpdateRunEnded(m_RunOutcome.load());
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
    if (m_Transfer.File.is_open()) {
        m_Transfer.File.close();
    }
    m_Shared.UpdateStopped.store(1);
}

void CUpdateEngine::FailTransfer() {
    EndRun(UpdateOutcome::Failed);
    m_View.ShowPrompt(Text(kTextFailure), kPromptNotice);
    if (m_Hid.DevicePresent()) {
        m_View.EnableUpdateButton(true);
    }
}

}  // namespace tarvex
