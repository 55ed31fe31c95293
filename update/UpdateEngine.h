#pragma once
// CUpdateEngine: the update's control, the dispatch of the device's replies, the image
// selection and the transfer state machine. It owns the worker threads and the record of the
// running transfer; the window (CUpdateView) is a thin view over it.
//
// Threads:
//  - Initialise, OnUsbUpdate, StartVersionQuery, OnDeviceChange run on the window's thread.
//  - VersionQueryWorker and UpdateWorker run the receive loop. Only one loop reads and
//    dispatches at a time (m_ReceiveLock), so every reply is handled exactly once, whichever
//    loop reads it; a version reply ends the version query also when the update loop reads it.
//  - HandleDeviceReport, SelectFirmwareImage, TransferStep, StopTransfer and FailTransfer run
//    on the worker that read the reply, under m_ReceiveLock. Tests and fuzzers call them
//    directly through DispatchReport, which takes the same lock.
//  - DriveCopyThread runs one drive-copy run (file dialog, wait for the device's volume, copy,
//    result) on its own worker. It sends no report and takes no receive lock; one such run at a
//    time (m_bDriveCopyActive), never beside an HID run. Shutdown ends its wait for the volume
//    at once, but lets a copy being written finish.
//  - The shared values (UpdateStopped, DeviceVersion, TransferState, TotalLength) are atomics.
// The destructor stops every worker and joins it; a view must let a blocked question return
// when its window goes away.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>

#include "hid/Hid.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/UiLanguage.h"
#include "update/DriveCopy.h"
#include "update/TransferContext.h"
#include "update/UpdateView.h"
#include "update/VersionText.h"
#include "update/WorkerThreads.h"

namespace tarvex {

// Consecutive receive passes whose read and poll both failed outright (not a time-out) after
// which a device is taken as gone; keeps a broken handle from spinning a loop forever.
inline constexpr int kMaxConsecutiveIoFailures = 20;

struct EngineShared {
    std::atomic<std::uint32_t> UpdateStopped{1};  // 0 while an update run is active
    std::atomic<std::uint32_t> DeviceVersion{kDeviceVersionUnknown};
    std::atomic<std::uint32_t> TransferState{kStatePayloadSent};
    std::atomic<std::uint32_t> TotalLength{0};
};

class CUpdateEngine {
public:
    // `driveCopy` is what a drive-copy run needs; without it such a run fails with the failure
    // text and writes nothing.
    CUpdateEngine(CHid& hid, CUpdateView& view, const CUiLanguage& language,
                  DriveCopyServices driveCopy = {});
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    // --- window thread ---
    // Start-up: resets the shared values, detects a device, enables the button and starts the
    // version query as the result says.
    void Initialise();
    // The update button. Returns whether a run was started: the drive-copy run while a
    // drive-mode device is present, else an HID update run. Starts nothing while either kind of
    // run is active. When the update device cannot be opened for lack of permission, a worker
    // shows the notice that says so (text 40); other open failures show nothing.
    bool OnUsbUpdate();
    // Marks an HID update run active and disables the button; OnUsbUpdate then starts the worker
    // that drives it. Harnesses that feed replies through DispatchReport call it alone.
    void BeginUpdateRun();
    void StartVersionQuery();
    void OnDeviceChange(std::uint32_t eventType);
    void RefreshDeviceState();
    void ShowVersionText(bool show);
    // Stops the receive loops and joins every worker; a run still active ends without a message.
    void Shutdown();

    // --- receive-loop side (under m_ReceiveLock) ---
    // `report` is what ReadReport delivered: report byte 1 onward.
    void HandleDeviceReport(std::uint8_t sendMode, std::span<const std::uint8_t> report);
    // `reply` starts at report byte 6 (the reply code).
    void TransferStep(std::uint8_t sendMode, std::span<const std::uint8_t> reply);
    int SelectFirmwareImage(std::uint8_t sendMode);
    std::uint32_t ImageTotalLength();
    void StopTransfer();
    void FailTransfer();

    // Takes the receive lock and dispatches one report, as a receive loop would.
    void DispatchReport(std::span<const std::uint8_t> report);

    // --- observation ---
    const EngineShared& Shared() const { return m_Shared; }
    bool UpdateRunActive() const { return m_Shared.UpdateStopped.load() == 0; }
    bool DriveCopyRunActive() const { return m_bDriveCopyActive.load(); }
    DriveCopyFailure LastDriveCopyFailure() const { return m_DriveCopyFailure.load(); }
    // What the volume said when the last run's copy failed (CopyFailed), else None.
    FileWriteError LastDriveCopyWriteError() const { return m_DriveCopyWriteError.load(); }
    UpdateOutcome LastRunOutcome() const { return m_RunOutcome.load(); }
    std::string VersionText() const;
    std::size_t RunningWorkers() const { return m_Workers.RunningCount(); }
    CHid& Hid() { return m_Hid; }

private:
    enum class PassResult { Continue, DeviceGone };

    void VersionQueryWorker();
    void UpdateWorker();
    PassResult ReceivePass(int& consecutiveFailures);
    void EndRun(UpdateOutcome outcome);
    void FinishRun();
    void StepHeaderAcknowledged(std::uint8_t sendMode);
    void StepSendNextChunk(std::uint8_t sendMode);
    bool SendChunk(std::uint8_t sendMode, std::uint32_t expectedAtLeast);
    void RecordDeviceVersion(std::uint32_t version);
    std::string Text(std::int32_t index) const;
    // The last detection saw the update device but this user may not open it (the device node's
    // permissions). The button stays usable then, so that pressing it can say why nothing
    // happens; other open failures count as no device.
    bool UpdateDeviceLocked() const;
    void ShowPermissionNotice();

    // The drive-copy run (DriveCopy.cpp), on its own worker.
    struct DriveTarget {
        std::optional<VolumeInfo> Volume;
        DriveCopyFailure Failure = DriveCopyFailure::None;  // None without a volume: shut down
    };
    bool StartDriveCopy();
    void DriveCopyThread();
    UpdateOutcome DriveCopyUpdate();
    std::vector<std::string> OwnDriveModeDevices();
    DriveTarget AwaitImageDrive();
    // False when a shutdown came first.
    bool SleepUnlessShutdown(std::chrono::steady_clock::duration length);
    void KeepDriveCopyFile(std::span<const std::uint8_t> leadSection,
                           const std::filesystem::path& chosenImage);
    FileWriteResult WriteDriveCopyFile(const std::filesystem::path& target,
                                       std::span<const std::uint8_t> leadSection);
    UpdateOutcome FailDriveCopy(DriveCopyFailure failure);

    CHid& m_Hid;
    CUpdateView& m_View;
    const CUiLanguage& m_Language;

    EngineShared m_Shared;
    std::atomic<UpdateOutcome> m_RunOutcome{UpdateOutcome::Failed};
    std::atomic<bool> m_bShutdown{false};
    // Version-query loops still reading; an update run started meanwhile shares their
    // connection rather than opening a second one (see OnUsbUpdate).
    std::atomic<int> m_VersionQueriesReading{0};

    const DriveCopyServices m_DriveCopy;
    std::atomic<bool> m_bDriveCopyActive{false};  // one drive-copy run at a time
    std::atomic<DriveCopyFailure> m_DriveCopyFailure{DriveCopyFailure::None};
    std::atomic<FileWriteError> m_DriveCopyWriteError{FileWriteError::None};

    std::mutex m_ReceiveLock;  // one receive loop reads and dispatches at a time
    std::array<std::uint8_t, kHidReportSize> m_InputReport{};
    TransferContext m_Transfer;
    std::filesystem::path m_ImagePath;
    std::uint32_t m_HeaderOffset = 0;

    mutable std::mutex m_VersionTextLock;
    std::string m_VersionText;

    CWorkerThreads m_Workers;  // last: joined before the members above go away
};

}  // namespace tarvex
