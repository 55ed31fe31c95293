// Choosing the firmware image: the file dialog, the checks of the file, the version question and
// the image header that tells the device what is coming.

#include <system_error>

#include "hid/ReportSenders.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {
constexpr const char* kImageFilterPattern = "(*.dat)|*.dat||";
}

int CUpdateEngine::SelectFirmwareImage(std::uint8_t sendMode) {
    std::error_code error;
    const auto initialFolder = std::filesystem::current_path(error);
    const auto chosen = m_View.AskImagePath(Text(kTextFileType) + kImageFilterPattern,
                                            error ? std::filesystem::path() : initialFolder);
    if (!chosen) {
        m_RunOutcome.store(UpdateOutcome::Cancelled);
        return 0;
    }
    m_ImagePath = *chosen;

    // An image that cannot hold what its header declares never reaches the device: the header
    // would announce a payload the transfer cannot deliver.
    const ImageProbe probe = ProbeImageFile(m_ImagePath);
    if (probe.Refusal != ImageRefusal::None) {
        m_RunOutcome.store(UpdateOutcome::ImageRefused);
        m_View.ShowPrompt(Text(kTextOpenFileError), kPromptNotice);
        return 0;
    }
    m_HeaderOffset = probe.HeaderOffset;
    m_Transfer.HeaderRead = probe.Header;
    m_Transfer.ImageVersion = probe.Fields.ImageVersion;
    m_Transfer.TargetAddress = probe.Fields.TargetAddress;
    m_Transfer.PayloadLength = probe.Fields.PayloadLength;
    m_Transfer.BytesSent = 0;
    m_Transfer.HeaderCopy = m_Transfer.HeaderRead;

    const std::string question = FormatImageVersionPrompt(
        Text(kTextConfirmVersion), Text(kTextConfirmBetaVersion), probe.Fields);
    if (m_View.ShowPrompt(question, kPromptQuestion) == kPromptCancel) {
        m_RunOutcome.store(UpdateOutcome::Cancelled);
        return 0;
    }

    m_Shared.TransferState.store(kStateHeaderSent);
    const HidIoStatus sent = SendImageHeader(m_Hid, sendMode, m_Transfer.HeaderCopy);
    if (sent == HidIoStatus::DeviceGone || sent == HidIoStatus::NoHandle) {
        FailTransfer();
        return 0;
    }
    m_Hid.SetReadTimeout(kReadTimeoutDuringTransfer);
    return 1;
}

std::uint32_t CUpdateEngine::ImageTotalLength() {
    // Checked again at the transfer's start: the file may have changed since it was chosen.
    const ImageProbe probe = ProbeImageFile(m_ImagePath, m_HeaderOffset);
    return probe.Refusal == ImageRefusal::None ? probe.Fields.PayloadLength : 0;
}

}  // namespace tarvex
