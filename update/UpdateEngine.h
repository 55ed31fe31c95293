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
//    One version query runs at a time; it ends with the device's answer, the device's going or
//    kVersionQueryLimit, and lets the device's lock go then.
//  - HandleDeviceReport, SelectFirmwareImage, TransferStep, StopTransfer and FailTransfer run
//    on the worker that read the reply, under m_ReceiveLock. Tests and fuzzers call them
//    directly through DispatchReport, which takes the same lock.
//  - DriveCopyThread runs one drive-copy run (file dialog, wait for the device's volume or mount
//    it, copy, unmount what it mounted, result) on its own worker. It sends no report and takes no receive lock; one such run at a
//    time (m_bDriveCopyActive), never beside an HID run. Shutdown and a stop request end its
//    wait for the volume at once, but let a copy being written finish.
//  - The shared values (UpdateStopped, DeviceVersion, TransferState, TotalLength) are atomics.
// The destructor stops every worker and joins it; a view must let a blocked question return
// when its window goes away.
//
// Runs. Every run (HID or drive copy) gets an identity when the button starts it and holds the
// engine's one run slot until its worker has finished: result message, device refresh and all.
// Only then can the next run start. Meanwhile only the run's own closing refresh, after its
// result message, enables the button; device notices and the end of the transfer do not. A
// worker serves its own run only, and OnUpdateRunEnded carries that run's outcome. It comes
// after the slot was freed, so a view may start the next run from it.
//
// The image. Everything a run sends is read from the file once, when the user chose it, and
// sent from that copy: a file that changes or goes away afterwards changes nothing.
//
// Beside other programs and the machine's power management: a run (either kind) takes the
// device's lock on the window's thread when the button starts it, before anything is written,
// and a version query takes it before it asks; when another program holds it, a run shows the
// busy text and a query asks nothing, and neither writes. A run also asks the system not to
// sleep, first thing on its worker. Both are let go when the run closes, before its run-ended
// notice, however it ended.
//
// No run stays active forever: a failed write of the update request, the image header, a data
// packet or the finish ends it with the failure text at once; so do kMaxConsecutiveIoFailures
// failed polls or failed reads in a row, and a device that leaves the run where it is for the
// silence limit.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hid/Hid.h"
#include "platform/DeviceLock.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/SleepInhibitor.h"
#include "platform/UiLanguage.h"
#include "update/DriveCopy.h"
#include "update/TransferContext.h"
#include "update/UpdateView.h"
#include "update/VersionText.h"
#include "update/WorkerThreads.h"

namespace tarvex {

class CDriveVolumeMount;

// Consecutive failed polls, or consecutive reads that failed outright (not a time-out), after
// which a device is taken as gone: it can no longer be written to, or read from.
inline constexpr int kMaxConsecutiveIoFailures = 20;

// How long a run may wait for the device to move it on (update ready, an acknowledgement) while
// it polls, before it ends with the failure text. Far beyond anything a device in update mode
// takes (erasing its flash included); the user's own time in the file dialog and the question
// does not count.
inline constexpr std::chrono::milliseconds kDeviceSilenceLimit{30'000};

// How long a version query waits for the device's answer, polling meanwhile. A device in update
// mode answers within milliseconds; one that has not by then will not, and a query that went on
// would poll it for as long as the window stays open, holding the device's lock all the while.
// The version then stays unknown; the button is as the detection left it.
inline constexpr std::chrono::seconds kVersionQueryLimit{5};

// The clock by which the engine measures its time limits (the device's silence, the version
// query's wait). Called from the engine's workers.
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

// What keeps a run safe beside other programs and the machine's power management. Either may be
// null: runs then go without that guard, as they would on a system that offers none. The
// services must outlive the engine and be callable from its threads.
struct RunGuardServices {
    CDeviceLocks* pDeviceLocks = nullptr;        // one program per device
    CSleepInhibitor* pSleepInhibitor = nullptr;  // no suspend while a run is active
};

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
                  DriveCopyServices driveCopy = {}, RunGuardServices guards = {});
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    // --- window thread ---
    // When the start-up's version query starts: at once, or when the front end asks for it
    // (StartDueVersionQuery), so that a window can show itself before a worker competes with it.
    enum class VersionQueryStart { Now, WhenAsked };
    // Start-up: resets the shared values, detects a device, enables the button and starts the
    // version query as the result says.
    void Initialise(VersionQueryStart queryStart = VersionQueryStart::Now);
    // Starts the version query that Initialise left to be asked for, unless another query has
    // started since (a device's arrival) or none is due.
    void StartDueVersionQuery();
    // The update button. Returns whether a run was started: the drive-copy run while a
    // drive-mode device is present, else an HID update run. While another program holds the
    // device's lock it starts nothing, writes nothing and shows the busy text (text 41); the
    // button stays as it was, so that a later press can try again. Starts nothing while a run holds
    // the slot or after a stop was requested. When the update device cannot be opened for lack of
    // permission, a worker shows the notice that says so in this system's words (text 40 where a
    // udev rule grants access, text 55 on Windows); other open failures show nothing.
    bool OnUsbUpdate();
    // Takes the run slot for a new HID update run, marks it active and disables the button;
    // OnUsbUpdate then starts the worker that drives it. Returns the run's identity, or 0 (and
    // changes nothing) while another run holds the slot. Harnesses that feed replies through
    // DispatchReport call it alone; their run keeps the slot.
    std::uint64_t BeginUpdateRun();
    void StartVersionQuery();
    void OnDeviceChange(std::uint32_t eventType);
    // Detects and sets the version text; enables the button only while no run holds the slot.
    void RefreshDeviceState();
    void ShowVersionText(bool show);
    // Stops the receive loops and joins every worker; a run still active ends without a message.
    void Shutdown();

    // --- set up before Initialise ---
    // A flag that another party (a signal handler) sets to stop: from then on no run starts, a
    // run whose update request is not written yet writes nothing, a drive copy that has not yet
    // begun to write 1.dat onto the volume writes nothing (its wait for the volume ends at once),
    // and a run in progress ends as cancelled at its next receive pass (one it is finishing still
    // ends as it does). Unlike Shutdown it joins nothing. The flag must outlive the engine.
    void WatchStopRequest(const std::atomic<bool>& stopRequested);
    // Replaces kDeviceSilenceLimit, for tests that make a device fall silent.
    void SetDeviceSilenceLimit(std::chrono::milliseconds limit);
    // Replaces the steady clock, for tests that move the time on by hand.
    void SetClock(SteadyNow now);

    // --- receive-loop side (under m_ReceiveLock) ---
    // `report` is what ReadReport delivered: report byte 1 onward.
    void HandleDeviceReport(std::uint8_t sendMode, std::span<const std::uint8_t> report);
    // `reply` starts at report byte 6 (the reply code).
    void TransferStep(std::uint8_t sendMode, std::span<const std::uint8_t> reply);
    int SelectFirmwareImage(std::uint8_t sendMode);
    // The payload length of the image chosen for this run (held in memory since the choice),
    // 0 when no image is held.
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
    // Whether a run holds the slot: from the press until its worker has finished.
    bool RunInProgress() const { return m_RunInProgress.load() != 0; }
    // Whether the last press started nothing because another program holds the device.
    bool DeviceBusyAtLastPress() const { return m_bDeviceBusy.load(); }
    // Whether a version query still reads (it ends with the device's answer, its going, or
    // kVersionQueryLimit).
    bool VersionQueryRunning() const { return m_VersionQueriesReading.load() > 0; }
    std::string VersionText() const;
    std::size_t RunningWorkers() const { return m_Workers.RunningCount(); }
    CHid& Hid() { return m_Hid; }

private:
    enum class PassResult { Continue, DeviceGone, RunOver };
    struct IoFailures {
        int FailedPolls = 0;  // in a row; a poll that goes through resets it
        int FailedReads = 0;  // in a row; a read that brings a report or times out resets it
    };

    bool StopRequested() const;
    bool RunActive(std::uint64_t run) const;
    std::uint64_t TakeRunSlot();
    // The end of a run's worker: refreshes the device state (the run may enable the button),
    // frees the slot, then tells the view.
    void CloseRun(std::uint64_t run, UpdateOutcome outcome);
    // The button as device notices and detections see it: enabling waits for the run's end.
    void ShowUpdateButton(bool enable);

    // One query at a time: it asks again (on the connection the last arrival opened) when a
    // device arrives while it runs, rather than a second query starting beside it.
    void VersionQueryWorker();
    // Sends the query and reads until the answer, the device's going, the time limit, a
    // shutdown or a request to ask again.
    void AskDeviceVersion();
    std::chrono::steady_clock::time_point Now() const;
    void UpdateWorker(std::uint64_t run);
    void SendUpdateRequest();
    // One pass of the receive loop. With `run` other than 0 the pass serves that run only, and
    // reads nothing once it has ended.
    PassResult ReceivePass(std::uint64_t run, IoFailures& failures);
    void EndRun(UpdateOutcome outcome);
    void FinishRun();
    void StepHeaderAcknowledged(std::uint8_t sendMode);
    void StepSendNextChunk(std::uint8_t sendMode);
    bool SendChunk(std::uint8_t sendMode);
    void RecordDeviceVersion(std::uint32_t version);
    std::string Text(std::int32_t index) const;
    // The last detection saw the update device but this user may not open it (the device node's
    // permissions). The button stays usable then, so that pressing it can say why nothing
    // happens; other open failures count as no device.
    bool UpdateDeviceLocked() const;
    void ShowPermissionNotice();

    // The guards (see the head of this file).
    using DeviceLocks = std::vector<std::unique_ptr<CDeviceLock>>;
    // The locks of `devices` (names the platform's lists give), or nothing while another
    // program holds one of them. A device that cannot be locked at all is left out.
    std::optional<DeviceLocks> LockDevices(const std::vector<std::string>& devices);
    void ShowDeviceBusyNotice();
    // The drive-mode devices attached now, by their system paths.
    std::vector<std::string> AttachedDriveModeDevices();
    // The run's worker, first thing: the sleep block, kept with the run's device locks.
    void BlockSleepForRun();
    // Lets go of the run's locks and sleep block.
    void ReleaseRunGuards();

    // The drive-copy run (DriveCopy.cpp; its volume chosen and awaited in DriveChoice.cpp), on its
    // own worker.
    struct DriveTarget {
        std::optional<VolumeInfo> Volume;
        DriveCopyFailure Failure = DriveCopyFailure::None;  // None without a volume: shut down
    };
    bool StartDriveCopy();
    void DriveCopyThread(std::uint64_t run);
    UpdateOutcome DriveCopyUpdate();
    std::vector<std::string> OwnDriveModeDevices();
    // Mounts the device's volume through `mount` where nothing else does.
    DriveTarget AwaitImageDrive(CDriveVolumeMount& mount);
    // False when a shutdown or a stop request came first.
    bool SleepUnlessStopped(std::chrono::steady_clock::duration length);
    void KeepDriveCopyFile(std::span<const std::uint8_t> leadSection,
                           const std::filesystem::path& chosenImage);
    FileWriteResult WriteDriveCopyFile(const std::filesystem::path& target,
                                       std::span<const std::uint8_t> leadSection);
    // 1.dat into the root of `volume`, only while its folder is still that volume.
    FileWriteResult CopyOntoVolume(const VolumeInfo& volume,
                                   std::span<const std::uint8_t> leadSection);
    UpdateOutcome FailDriveCopy(DriveCopyFailure failure);

    CHid& m_Hid;
    CUpdateView& m_View;
    const CUiLanguage& m_Language;

    EngineShared m_Shared;
    std::atomic<UpdateOutcome> m_RunOutcome{UpdateOutcome::Failed};
    std::atomic<bool> m_bShutdown{false};
    std::atomic<const std::atomic<bool>*> m_pStopRequest{nullptr};
    std::atomic<std::int64_t> m_SilenceLimitMs{kDeviceSilenceLimit.count()};
    // The run slot: the identity of the run whose worker has not finished, 0 when none.
    std::atomic<std::uint64_t> m_RunInProgress{0};
    std::atomic<std::uint64_t> m_LastRunId{0};
    // Counts the steps by which the device moved the current run on; the update worker watches
    // it for the silence limit.
    std::atomic<std::uint64_t> m_RunSteps{0};
    // Version-query loops still reading; an update run started meanwhile shares their
    // connection rather than opening a second one (see OnUsbUpdate).
    std::atomic<int> m_VersionQueriesReading{0};
    std::mutex m_VersionQueryLock;  // guards the two below
    bool m_bVersionQueryRunning = false;
    DeviceLocks m_VersionQueryLocks;  // the queried device's, held until the query ends
    std::atomic<bool> m_bVersionAskAgain{false};
    SteadyNow m_Now;                              // set before any worker starts
    std::atomic<bool> m_bVersionQueryDue{false};  // set by Initialise, until a query starts

    const DriveCopyServices m_DriveCopy;
    const RunGuardServices m_Guards;
    std::atomic<bool> m_bDeviceBusy{false};
    std::mutex m_RunGuardLock;  // guards the two below: taken on the window's thread, let go
                                // on the run's worker
    DeviceLocks m_RunDeviceLocks;
    std::unique_ptr<CSleepBlock> m_pRunSleepBlock;
    std::atomic<bool> m_bDriveCopyActive{false};  // the run in the slot is a drive copy
    std::atomic<DriveCopyFailure> m_DriveCopyFailure{DriveCopyFailure::None};
    std::atomic<FileWriteError> m_DriveCopyWriteError{FileWriteError::None};

    std::mutex m_ReceiveLock;  // one receive loop reads and dispatches at a time
    std::array<std::uint8_t, kHidReportSize> m_InputReport{};
    TransferContext m_Transfer;
    std::filesystem::path m_ImagePath;

    mutable std::mutex m_VersionTextLock;
    std::string m_VersionText;

    CWorkerThreads m_Workers;  // last: joined before the members above go away
};

}  // namespace tarvex
