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

void CUpdateEngine::StepHeaderAcknowledged(std::uint8_t sendMode) {
    const std::uint32_t total = ImageTotalLength();
    m_Shared.TotalLength.store(total);
    if (total == 0) {
        FailTransfer();
        return;
    }
    if (m_Transfer.File.is_open()) {
        m_Transfer.File.close();
    }
    m_Transfer.File.clear();
    m_Transfer.File.open(m_ImagePath, std::ios::binary);
    if (!m_Transfer.File.is_open()) {
        // The device repeats its acknowledgement on our polls; the next one tries again.
        return;
    }
    m_Shared.TransferState.store(kStateSendingPayload);
    m_Transfer.File.seekg(static_cast<std::streamoff>(m_HeaderOffset) + kImageHeaderSize);
    SendChunk(sendMode, std::min<std::uint32_t>(kChunkSize, total));
}

void CUpdateEngine::StepSendNextChunk(std::uint8_t sendMode) {
    if (!m_Transfer.File.is_open()) {
        return;
    }
    const std::uint32_t total = m_Shared.TotalLength.load();
    if (total == 0) {
        return;
    }
    const std::uint32_t remaining = total > m_Transfer.BytesSent ? total - m_Transfer.BytesSent : 0;
    if (!SendChunk(sendMode, std::min<std::uint32_t>(kChunkSize, remaining))) {
        return;
    }
    const std::uint64_t percent = static_cast<std::uint64_t>(m_Transfer.BytesSent) * 100 / total;
    m_View.SetProgress(static_cast<unsigned>(std::min<std::uint64_t>(percent, 0xFFFFFFFF)));
    if (m_Transfer.BytesSent >= total) {
        m_Transfer.File.close();
        m_Shared.TransferState.store(kStatePayloadSent);
        m_View.EnableUpdateButton(false);
    }
}

// Reads the next 32 bytes (past the payload's end too: the device has always received whole
// chunks) and sends them. A read that falls short of what the payload still owes means the file
// shrank under us; the run fails rather than feeding the device empty packets forever.
bool CUpdateEngine::SendChunk(std::uint8_t sendMode, std::uint32_t expectedAtLeast) {
    m_Transfer.File.read(reinterpret_cast<char*>(m_Transfer.Chunk.data()), kChunkSize);
    const auto n = static_cast<std::uint32_t>(m_Transfer.File.gcount());
    m_Transfer.File.clear();  // a short last chunk sets eof; the next read must still run
    if (n < expectedAtLeast) {
        FailTransfer();
        return false;
    }
    const HidIoStatus sent =
        SendDataPacket(m_Hid, sendMode, std::span<const std::uint8_t>(m_Transfer.Chunk.data(), n));
    if (sent == HidIoStatus::DeviceGone || sent == HidIoStatus::NoHandle) {
        FailTransfer();
        return false;
    }
    m_Transfer.BytesSent += n;
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
