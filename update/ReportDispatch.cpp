// Report dispatch: one pass of the receive loop that the version query and the update run share,
// the routing of every reply the device sends, and how a transfer stops or fails.

#include "hid/ReportSenders.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

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
