#include "history/RecordingUpdateView.h"

#include <array>

#include "history/Sha256.h"
#include "platform/FileAccess.h"
#include "update/FirmwareImage.h"
#include "update/VersionText.h"

namespace tarvex {

namespace {

constexpr const char* kNoImageChosen = "no image was chosen";
constexpr const char* kVersionDeclined = "the version question was declined";

std::string ImageVersionText(const ImageHeaderFields& fields) {
    std::string text = FormatDeviceVersionText(fields.Version());
    if (fields.Beta() != 0) {
        text += " beta " + std::to_string(fields.Beta());
    }
    return text;
}

}  // namespace

ImageRecord DescribeImage(const std::filesystem::path& path) {
    ImageRecord image;
    image.FileName = path.filename().string();
    CReadableFile file(path);
    if (file.IsOpen()) {
        CSha256 digest;
        std::array<std::uint8_t, 64 * 1024> chunk{};
        std::error_code error;
        std::uint64_t total = 0;
        for (;;) {
            const std::size_t got = file.Read(chunk, error);
            digest.Add(std::span(chunk).first(got));
            total += got;
            if (got < chunk.size()) {
                break;
            }
        }
        if (!error) {
            image.Size = total;
            image.Sha256 = digest.FinishHex();
        }
    }
    if (const ImageProbe probe = ProbeImageFile(path); probe.Refusal == ImageRefusal::None) {
        image.Version = ImageVersionText(probe.Fields);
    }
    return image;
}

CRecordingUpdateView::CRecordingUpdateView(CUpdateView& inner, RecordingSources sources)
    : m_Inner(inner), m_Sources(std::move(sources)) {}

void CRecordingUpdateView::BeginRecordLocked() {
    m_Current = RunRecord{};
    m_Current.Program = m_Sources.Program;
    m_Current.DeviceVersion = m_VersionText;
    m_bDeviceDescribed = false;
    m_Started = std::chrono::steady_clock::now();
    if (m_Sources.pReports != nullptr) {
        m_Sources.pReports->Clear();
    }
}

void CRecordingUpdateView::DescribeDeviceOnce() {
    {
        std::lock_guard lock(m_Lock);
        if (m_bDeviceDescribed || !m_Sources.DescribeDevice) {
            return;
        }
        m_bDeviceDescribed = true;
    }
    // Lists the system's devices: not under the lock, which the window's thread also takes.
    std::optional<DeviceRecord> device = m_Sources.DescribeDevice();
    std::lock_guard lock(m_Lock);
    m_Current.Device = std::move(device);
}

void CRecordingUpdateView::NoteReason(const std::string& reason) {
    std::lock_guard lock(m_Lock);
    if (m_Current.Reason.empty()) {
        m_Current.Reason = reason;
    }
}

void CRecordingUpdateView::EnableUpdateButton(bool enable) {
    {
        std::lock_guard lock(m_Lock);
        if (m_bButtonEnabled && !enable) {
            BeginRecordLocked();
        }
        m_bButtonEnabled = enable;
    }
    m_Inner.EnableUpdateButton(enable);
}

void CRecordingUpdateView::SetVersionText(const std::string& text) {
    {
        std::lock_guard lock(m_Lock);
        m_VersionText = text;
    }
    m_Inner.SetVersionText(text);
}

void CRecordingUpdateView::SetProgress(unsigned position) {
    m_Inner.SetProgress(position);
}

int CRecordingUpdateView::ShowPrompt(const std::string& text, int mode) {
    if (mode != kPromptQuestion) {
        NoteReason(text);
    }
    const int answer = m_Inner.ShowPrompt(text, mode);
    if (mode == kPromptQuestion && answer != kPromptOk) {
        NoteReason(kVersionDeclined);
    }
    return answer;
}

void CRecordingUpdateView::ShowSuccessBox(const std::string& text, const std::string& caption) {
    NoteReason(text);
    m_Inner.ShowSuccessBox(text, caption);
}

std::optional<std::filesystem::path> CRecordingUpdateView::AskImagePath(
    const std::string& filter, const std::filesystem::path& initialFolder) {
    DescribeDeviceOnce();
    auto chosen = m_Inner.AskImagePath(filter, initialFolder);
    if (!chosen) {
        NoteReason(kNoImageChosen);
        return chosen;
    }
    ImageRecord image = DescribeImage(*chosen);
    std::lock_guard lock(m_Lock);
    m_Current.Image = std::move(image);
    return chosen;
}

void CRecordingUpdateView::OnUpdateRunEnded(UpdateOutcome outcome) {
    DescribeDeviceOnce();
    RunRecord record;
    std::chrono::steady_clock::time_point started;
    {
        std::lock_guard lock(m_Lock);
        record = m_Current;
        started = m_Started;
    }
    record.Time = std::chrono::system_clock::now();
    record.Duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    record.Outcome = ToString(outcome);
    if (outcome == UpdateOutcome::Failed && m_Sources.pReports != nullptr) {
        record.Reports = m_Sources.pReports->Lines();
    }
    RecordFileResult appended;
    if (m_Sources.pHistory != nullptr) {
        appended = m_Sources.pHistory->Append(record);
    }
    {
        std::lock_guard lock(m_Lock);
        m_Last = std::move(record);
        m_LastAppend = std::move(appended);
    }
    m_Inner.OnUpdateRunEnded(outcome);
}

void CRecordingUpdateView::ShowDriveVolumeWait(std::chrono::seconds limit) {
    m_Inner.ShowDriveVolumeWait(limit);
}

void CRecordingUpdateView::ShowDriveMountStep(const DriveMountNotice& notice) {
    m_Inner.ShowDriveMountStep(notice);
}

int CRecordingUpdateView::ShowFailureNotice(const std::string& text, const std::string& reason) {
    NoteReason(reason.empty() ? text : text + ' ' + reason);
    return m_Inner.ShowFailureNotice(text, reason);
}

std::optional<RunRecord> CRecordingUpdateView::LastRecord() const {
    std::lock_guard lock(m_Lock);
    return m_Last;
}

RecordFileResult CRecordingUpdateView::LastAppend() const {
    std::lock_guard lock(m_Lock);
    return m_LastAppend;
}

}  // namespace tarvex
