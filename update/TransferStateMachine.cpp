// The transfer: one 32-byte chunk of the payload per acknowledgement, at the device's pace, then
// the finish command. Also records the firmware version the device reports.

#include <algorithm>

#include "hid/ReportSenders.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

const char* TransferStateName(std::uint32_t state) {
    switch (state) {
        case kStateNoImage:
            return "no image";
        case kStateHeaderSent:
            return "header sent";
        case kStateSendingPayload:
            return "sending payload";
        case kStatePayloadSent:
            return "payload sent";
        default:
            return "unknown";
    }
}

void CUpdateEngine::TransferStep(std::uint8_t sendMode, std::span<const std::uint8_t> reply) {
    if (reply.empty()) {
        return;
    }
    switch (reply[0]) {
        case kReplyCodeAck:
            // Outside a run there is nothing to send and nothing that may succeed.
            if (!UpdateRunActive()) {
                return;
            }
            switch (m_Shared.TransferState.load()) {
                case kStateHeaderSent:
                    StepHeaderAcknowledged(sendMode);
                    break;
                case kStateSendingPayload:
                    StepSendNextChunk(sendMode);
                    break;
                case kStatePayloadSent:
                    FinishRun();
                    break;
                default:
                    break;
            }
            break;
        case kReplyCodeFailure:
        case kReplyCodeFailureAlt:
            if (UpdateRunActive()) {
                FailTransfer();
            }
            break;
        case kReplyCodeVersion:
            if (reply.size() >= 7) {
                RecordDeviceVersion(ReadLe32(reply.subspan(3, 4)));
            }
            break;
        default:
            break;
    }
}

std::span<const std::uint8_t> TransferContext::NextChunk() const {
    const std::size_t from = std::size_t{HeaderOffset} + kImageHeaderSize + BytesSent;
    if (from >= Image.size()) {
        return {};
    }
    return std::span<const std::uint8_t>(Image).subspan(from,
                                                        std::min(kChunkSize, Image.size() - from));
}

void CUpdateEngine::StepHeaderAcknowledged(std::uint8_t sendMode) {
    const std::uint32_t total = ImageTotalLength();
    m_Shared.TotalLength.store(total);
    if (total == 0) {
        FailTransfer();
        return;
    }
    ++m_RunSteps;
    m_Shared.TransferState.store(kStateSendingPayload);
    SendChunk(sendMode);
}

void CUpdateEngine::StepSendNextChunk(std::uint8_t sendMode) {
    const std::uint32_t total = m_Shared.TotalLength.load();
    if (total == 0) {
        return;
    }
    ++m_RunSteps;
    if (!SendChunk(sendMode)) {
        return;
    }
    const std::uint64_t percent = static_cast<std::uint64_t>(m_Transfer.BytesSent) * 100 / total;
    m_View.SetProgress(static_cast<unsigned>(std::min<std::uint64_t>(percent, 0xFFFFFFFF)));
    if (m_Transfer.BytesSent >= total) {
        m_Shared.TransferState.store(kStatePayloadSent);
        m_View.EnableUpdateButton(false);
    }
}

// Sends the next 32 bytes of the held image (past the payload's end too: the device has always
// received whole chunks). The held image covers the whole payload, so no chunk of it falls
// short. A chunk that was not written ends the run at once: counting it as sent would let the
// device's next acknowledgement move the transfer past bytes the device never got.
bool CUpdateEngine::SendChunk(std::uint8_t sendMode) {
    const auto chunk = m_Transfer.NextChunk();
    if (SendDataPacket(m_Hid, sendMode, chunk) != HidIoStatus::Ok) {
        FailTransfer();
        return false;
    }
    m_Transfer.BytesSent += static_cast<std::uint32_t>(chunk.size());
    return true;
}

void CUpdateEngine::FinishRun() {
    // Success only once the device was told: a finish that could not be written is a failure.
    if (SendCommand(m_Hid, kSendModeReport, kCommandFinish) != HidIoStatus::Ok) {
        FailTransfer();
        return;
    }
    EndRun(UpdateOutcome::Succeeded);
    m_View.ShowSuccessBox(Text(kTextSuccess), Text(kTextTitle));
    m_View.SetProgress(0);
}

void CUpdateEngine::RecordDeviceVersion(std::uint32_t version) {
    m_Shared.DeviceVersion.store(version);
    std::string text = FormatDeviceVersionText(version);
    {
        std::lock_guard lock(m_VersionTextLock);
        m_VersionText = text;
    }
    m_View.SetVersionText(text);
}

}  // namespace tarvex
