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

    // Read once, here: what the user confirms is what the device gets, whatever happens to the
    // file afterwards. An image that cannot hold what its header declares never reaches the
    // device: the header would announce a payload the transfer cannot deliver.
    HeldImage image = ReadImageForTransfer(m_ImagePath);
    const ImageProbe& probe = image.Probe;
    if (probe.Refusal != ImageRefusal::None) {
        m_RunOutcome.store(UpdateOutcome::ImageRefused);
        m_View.ShowPrompt(Text(kTextOpenFileError), kPromptNotice);
        return 0;
    }
    m_Transfer.Image = std::move(image.Bytes);
    m_Transfer.HeaderOffset = probe.HeaderOffset;
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
    // A header that was not written ends the run: the device would never acknowledge it, and
    // one that half-arrived must not be followed by data.
    if (SendImageHeader(m_Hid, sendMode, m_Transfer.HeaderCopy) != HidIoStatus::Ok) {
        FailTransfer();
        return 0;
    }
    ++m_RunSteps;
    m_Hid.SetReadTimeout(kReadTimeoutDuringTransfer);
    return 1;
}

std::uint32_t CUpdateEngine::ImageTotalLength() {
    // The image was checked when it was read; the held copy is what the transfer sends.
    return m_Transfer.Image.empty() ? 0 : m_Transfer.PayloadLength;
}

}  // namespace tarvex
