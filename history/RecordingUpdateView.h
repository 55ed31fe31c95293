#pragma once
// CRecordingUpdateView: stands between the engine and a front end's view, passes every call on,
// and from what passes makes the run's record, which it appends to the history when the run
// ends. The engine knows nothing of it.
//
// A run starts where the engine takes the run slot: the button goes from enabled to disabled
// (BeginUpdateRun, StartDriveCopy). The device is described when the run asks for its image, or
// at its end if it never did; the image is read again (size, SHA-256, version) as soon as it is
// chosen. The record goes to the history before the front end hears of the run's end, so a
// front end that waits for the end finds it there.
//
// Threads: every CUpdateView call may come from any thread, as the engine makes them; the
// record's parts are guarded by one lock, never held while the front end's view runs. The
// history is written on the run's worker after the run is over, and never waits longer than
// kRecordLockWait.

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "history/ReportTail.h"
#include "history/RunHistory.h"
#include "history/RunRecord.h"
#include "update/UpdateView.h"

namespace tarvex {

struct RecordingSources {
    std::string Program;  // "tarvex-update", "tarvex-update-cli"
    // The run's device (see DescribeRunDevice); called on the run's worker.
    std::function<std::optional<DeviceRecord>()> DescribeDevice;
    CReportTailPort* pReports = nullptr;    // null: records carry no reports
    const CRunHistory* pHistory = nullptr;  // null: records are kept in memory only
};

class CRecordingUpdateView final : public CUpdateView {
public:
    CRecordingUpdateView(CUpdateView& inner, RecordingSources sources);

    void EnableUpdateButton(bool enable) override;
    void SetVersionText(const std::string& text) override;
    void SetProgress(unsigned position) override;
    int ShowPrompt(const std::string& text, int mode) override;
    void ShowSuccessBox(const std::string& text, const std::string& caption) override;
    std::optional<std::filesystem::path> AskImagePath(
        const std::string& filter, const std::filesystem::path& initialFolder) override;
    void OnUpdateRunEnded(UpdateOutcome outcome) override;
    void ShowDriveVolumeWait(std::chrono::seconds limit) override;
    void ShowDriveMountStep(const DriveMountNotice& notice) override;
    int ShowFailureNotice(const std::string& text, const std::string& reason) override;

    // The record of the last run that ended; empty before one did.
    std::optional<RunRecord> LastRecord() const;
    // How writing it into the history went; Ok also when there is no history or no run yet.
    RecordFileResult LastAppend() const;

private:
    void BeginRecordLocked();
    void DescribeDeviceOnce();
    // Keeps the first reason a run gave the user; a later one does not replace it.
    void NoteReason(const std::string& reason);

    CUpdateView& m_Inner;
    const RecordingSources m_Sources;

    mutable std::mutex m_Lock;  // guards everything below
    bool m_bButtonEnabled = true;
    std::string m_VersionText;  // as the view shows it now
    RunRecord m_Current;
    bool m_bDeviceDescribed = false;
    std::chrono::steady_clock::time_point m_Started = std::chrono::steady_clock::now();
    std::optional<RunRecord> m_Last;
    RecordFileResult m_LastAppend;
};

// Reads the image a run chose as the history keeps it: name, size, SHA-256 and the version as
// the question shows it. Size and digest stay empty when the file cannot be read.
ImageRecord DescribeImage(const std::filesystem::path& path);

}  // namespace tarvex
