#include "cli/CliApp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

#include "cli/CliJson.h"
#include "cli/ConsoleUpdateView.h"
#include "cli/DeviceChoice.h"
#include "cli/DeviceWait.h"
#include "cli/ImageFileCheck.h"
#include "cli/ReportTrace.h"
#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "history/RecordingUpdateView.h"
#include "history/RunDevice.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {

// How long the terminal waits for the device to tell its firmware version before going on.
constexpr std::chrono::milliseconds kVersionWait{2000};
constexpr std::chrono::milliseconds kVersionWaitSlice{100};

// The last line when Ctrl-C ended a run before the device had the whole update.
constexpr const char* kCancelledBeforeImage = "Cancelled: no firmware was sent to the device.";
constexpr const char* kCancelledDuringTransfer =
    "Cancelled during the transfer: the device did not get the whole update. Run the update "
    "again.";

// The update device is there but this user may not open it: what to do about it on this system.
std::string AccessDeniedNotice(const CliPlatform& platform) {
    return LoadLocalizedString(DeviceAccessDeniedText(SystemHidAccessRemedy()), platform.Language);
}

constexpr const char* kProgramName = "tarvex-update-cli";

// What an update run leaves for the history and --json.
struct RunRecording {
    CReportTailPort* pReports = nullptr;
    std::optional<RunRecord> Record;  // empty when no run reached a device
    RecordFileResult Append;
};

// Collects the recorder's result when the run's objects go: declared before the engine, it
// looks after the engine has joined its workers.
class CRecordingCollector {
public:
    CRecordingCollector(const CRecordingUpdateView& recorder, RunRecording& recording)
        : m_Recorder(recorder), m_Recording(recording) {}
    ~CRecordingCollector() {
        m_Recording.Record = m_Recorder.LastRecord();
        m_Recording.Append = m_Recorder.LastAppend();
    }
    CRecordingCollector(const CRecordingCollector&) = delete;
    CRecordingCollector& operator=(const CRecordingCollector&) = delete;

private:
    const CRecordingUpdateView& m_Recorder;
    RunRecording& m_Recording;
};

int ExitStatusFor(UpdateOutcome outcome) {
    switch (outcome) {
        case UpdateOutcome::Succeeded:
            return kExitSuccess;
        case UpdateOutcome::Failed:
            return kExitUpdateFailed;
        case UpdateOutcome::Cancelled:
            return kExitCancelled;
        case UpdateOutcome::ImageRefused:
            return kExitUsage;
    }
    return kExitUpdateFailed;
}

// Why a drive-copy run failed, in more words than the failure text; empty when it did not.
std::string DriveCopyFailureText(const CUpdateEngine& engine) {
    switch (engine.LastDriveCopyFailure()) {
        case DriveCopyFailure::None:
            return {};
        case DriveCopyFailure::NoMatchingVolume:
            return "No mounted volume has the drive-mode device's size (104 KiB): mount the "
                   "device's volume, then run the update again.";
        case DriveCopyFailure::VolumeNotMounted:
            return "The drive-mode device's volume was not mounted in time: mount it (for "
                   "example with udisksctl mount -b /dev/sdX), then run the update again.";
        case DriveCopyFailure::DeviceLeft:
            return "The drive-mode device went away before its volume was mounted.";
        case DriveCopyFailure::CopyFailed:
            return std::string("Drive-copy update: ") + ToString(DriveCopyFailure::CopyFailed) +
                   ": " + ToString(engine.LastDriveCopyWriteError()) + ".";
        case DriveCopyFailure::CannotTellVolume:
            return "Nothing was written: this system cannot tell which volume belongs to which "
                   "drive-mode device, and with --device or several drive-mode devices attached "
                   "a volume of the right size could be another device's. Attach only the device "
                   "to update and run the update without --device.";
        case DriveCopyFailure::MountNotAuthorized:
            return "Nothing was written: this user may not mount the drive-mode device's volume. "
                   "Mount it yourself (in the file manager, or as a user who may), then run the "
                   "update again.";
        case DriveCopyFailure::MountNeedsAuthentication:
            return "Nothing was written: mounting the drive-mode device's volume needs a "
                   "password. Run the update again with --mount-auth to be asked for it, or "
                   "mount the volume yourself (udisksctl mount -b /dev/sdX) first.";
        case DriveCopyFailure::MountFailed:
            return "Nothing was written: the drive-mode device's volume could not be mounted. "
                   "Mount it yourself (udisksctl mount -b /dev/sdX), then run the update again.";
    }
    return {};
}

// A drive-copy run: the engine picks the volume and reports through the view. An interrupt
// ends a wait for the device's volume at once, but a copy already being written is waited for
// and reported as what it became rather than as cancelled.
int RunDriveCopy(CUpdateEngine& engine, CConsoleUpdateView& view, const CliPlatform& platform,
                 const CliStreams& streams, const std::atomic<bool>& stopRequested) {
    if (!engine.OnUsbUpdate()) {
        if (stopRequested.load()) {
            view.PrintLine(kCancelledBeforeImage);
            return kExitCancelled;
        }
        if (engine.DeviceBusyAtLastPress()) {
            streams.Err << LoadLocalizedString(kTextDeviceBusy, platform.Language) << '\n';
        } else {
            streams.Err << "The drive-copy update could not be started.\n";
        }
        return kExitUpdateFailed;
    }
    view.WaitForRunEnd(stopRequested);
    engine.Shutdown();
    const UpdateOutcome outcome = engine.LastRunOutcome();
    if (const std::string why = DriveCopyFailureText(engine); !why.empty()) {
        streams.Err << why << '\n';
    } else if (outcome == UpdateOutcome::Cancelled && stopRequested.load()) {
        streams.Err << "Cancelled.\n";
    }
    return ExitStatusFor(outcome);
}

// --wait: kExitSuccess to go on with the update (also when the time ran out: the update then
// says that no device was found), else the status to end with.
int WaitForDevice(const CliOptions& options, CHid& hid, const CliPlatform& platform,
                  const CliStreams& streams, const std::atomic<bool>& stopRequested) {
    const auto announce = [&] {
        streams.Out << "Waiting for an updatable device: put the device in update mode and plug "
                       "it in";
        if (options.WaitLimit.count() > 0) {
            streams.Out << " (at most " << options.WaitLimit.count() << " s)";
        }
        streams.Out << "..." << std::endl;
    };
    switch (WaitForUpdatableDevice(hid, platform.pDeviceNotices, options.WaitLimit, stopRequested,
                                   announce)) {
        case DeviceWaitResult::Interrupted:
            streams.Err << "Cancelled.\n";
            return kExitCancelled;
        case DeviceWaitResult::CannotWait:
            streams.Err << "Cannot wait for a device: this system delivers no device notices.\n";
            return kExitUpdateFailed;
        case DeviceWaitResult::Found:
        case DeviceWaitResult::Locked:
        case DeviceWaitResult::TimedOut:
            break;
    }
    return kExitSuccess;
}

// Shows the device's version before the question, as the window does. Gives up after
// kVersionWait, once no version query is asking any more (the device would not open), or on
// Ctrl-C.
void WaitForVersion(const CUpdateEngine& engine, CConsoleUpdateView& view,
                    const std::atomic<bool>& stopRequested) {
    const auto deadline = std::chrono::steady_clock::now() + kVersionWait;
    while (engine.VersionQueryRunning() && !stopRequested.load() &&
           std::chrono::steady_clock::now() < deadline) {
        if (view.WaitForVersionText(kVersionWaitSlice, stopRequested)) {
            return;
        }
    }
}

// Why the update button started nothing.
int ReportRunNotStarted(const CUpdateEngine& engine, const CHid& hid, CConsoleUpdateView& view,
                        const CliPlatform& platform, const CliStreams& streams,
                        const std::atomic<bool>& stopRequested) {
    if (stopRequested.load()) {
        view.PrintLine(kCancelledBeforeImage);
        return kExitCancelled;
    }
    if (engine.DeviceBusyAtLastPress()) {
        streams.Err << LoadLocalizedString(kTextDeviceBusy, platform.Language) << '\n';
    } else if (hid.LastOpenError() == HidOpenError::PermissionDenied) {
        streams.Err << AccessDeniedNotice(platform) << '\n';
    } else {
        streams.Err << "The update device could not be opened.\n";
    }
    return kExitUpdateFailed;
}

// The HID update run, from the press to the exit status. Ctrl-C stops the run, but the last
// line and the status say what became of it: a run that ended in success or failure before the
// stop reached it is reported as such.
int RunHidUpdate(CUpdateEngine& engine, CHid& hid, CConsoleUpdateView& view,
                 const CliPlatform& platform, const CliStreams& streams,
                 const std::atomic<bool>& stopRequested) {
    WaitForVersion(engine, view, stopRequested);
    if (stopRequested.load()) {
        view.PrintLine(kCancelledBeforeImage);
        return kExitCancelled;
    }
    if (!engine.OnUsbUpdate()) {
        return ReportRunNotStarted(engine, hid, view, platform, streams, stopRequested);
    }
    if (!view.WaitForRunEnd(stopRequested)) {
        streams.Err << "Interrupted: stopping the update." << std::endl;
    }
    // Joins the run's worker; its run-ended notice has come when this returns.
    engine.Shutdown();
    const UpdateOutcome outcome = view.RunOutcome().value_or(UpdateOutcome::Cancelled);
    if (outcome == UpdateOutcome::Cancelled && (stopRequested.load() || view.Interrupted())) {
        view.PrintLine(engine.Shared().TransferState.load() == kStateNoImage
                           ? kCancelledBeforeImage
                           : kCancelledDuringTransfer);
    }
    return ExitStatusFor(outcome);
}

int RunUpdate(const CliOptions& options, CHidPort& hidPort, const CliPlatform& platform,
              const CliStreams& streams, const std::atomic<bool>& stopRequested,
              RunRecording& recording) {
    const auto started = std::chrono::steady_clock::now();
    // Only a waiting run listens to the notices; the others look once.
    CHid hid(hidPort, platform.UsbDevices, options.Wait ? platform.pDeviceNotices : nullptr);
    CConsoleUpdateView view(
        streams.Out, streams.Err,
        ConsoleSettings{options.ImagePath, options.AssumeYes, streams.bInputIsTerminal,
                        streams.bOutputIsTerminal, streams.InputFd});
    DriveCopyServices driveCopy = platform.DriveCopy;
    driveCopy.bDeviceChosen = !options.Device.empty();
    driveCopy.bAllowMountAuthentication = options.MountAuthentication;
    // --wait's limit covers the wait for the device's volume as well as for the device.
    if (options.Wait && options.WaitLimit.count() > 0) {
        driveCopy.VolumeWaitDeadline =
            std::min(driveCopy.VolumeWaitDeadline, started + options.WaitLimit);
    }
    CRecordingUpdateView recorder(view, RecordingSources{kProgramName,
                                                         [&hid, &hidPort, &platform] {
                                                             return DescribeRunDevice(
                                                                 hid, hidPort, platform.UsbDevices);
                                                         },
                                                         recording.pReports, platform.pHistory});
    const CRecordingCollector collector(recorder, recording);
    CUpdateEngine engine(hid, recorder, platform.Language, driveCopy, platform.Guards);
    // The engine looks at Ctrl-C itself right before it writes the update request: the main
    // thread sees it only between its waits.
    engine.WatchStopRequest(stopRequested);

    if (options.Wait) {
        const int waitStatus = WaitForDevice(options, hid, platform, streams, stopRequested);
        if (waitStatus != kExitSuccess) {
            return waitStatus;
        }
    }
    // Never a guess between devices: the version query that Initialise starts is already a
    // report to one of them.
    if (const auto devices = FindUpdatableDevices(hidPort, platform.UsbDevices);
        devices.size() > 1) {
        streams.Err << "Several updatable devices are attached; choose one with "
                       "--device=NODE or --device=SERIAL:\n";
        PrintDeviceLines(devices, streams.Out);
        return kExitUsage;
    }
    engine.Initialise();
    if (hid.DriveModePresent()) {
        return RunDriveCopy(engine, view, platform, streams, stopRequested);
    }
    if (!hid.DevicePresent()) {
        if (hid.UpdateDeviceOpenError() == HidOpenError::PermissionDenied) {
            streams.Err << AccessDeniedNotice(platform) << '\n';
        } else if (!options.Device.empty()) {
            streams.Err << "No updatable device found that matches --device=" << options.Device
                        << " (tarvex-update-cli --list shows the attached ones).\n";
        } else {
            streams.Err << "No updatable device found: put the device in update mode and plug "
                           "it in.\n";
        }
        return kExitUpdateFailed;
    }
    return RunHidUpdate(engine, hid, view, platform, streams, stopRequested);
}

// The image's check, then the run, over a port that keeps the run's last reports for its record
// (and, with --trace, prints every report on the program's own standard error).
int CheckAndUpdate(const CliOptions& options, const CliPlatform& platform,
                   const CliStreams& streams, std::ostream& trace,
                   const std::atomic<bool>& stopRequested, RunRecording& recording) {
    const ImageFileCheck image = CheckImageFile(options.ImagePath);
    if (image.Problem != ImageFileProblem::None) {
        streams.Err << DescribeImageFileProblem(options.ImagePath, image) << '\n';
        return kExitUsage;
    }
    CReportTailPort reports(platform.HidPort);
    recording.pReports = &reports;
    if (options.Trace) {
        CTracingHidPort tracingPort(reports, trace);
        return RunUpdate(options, tracingPort, platform, streams, stopRequested, recording);
    }
    return RunUpdate(options, reports, platform, streams, stopRequested, recording);
}

}  // namespace

void ListUpdatableDevices(CHidPort& hidPort, CUsbDeviceList& usbDevices, std::ostream& out) {
    PrintDeviceLines(FindUpdatableDevices(hidPort, usbDevices), out);
}

int RunCli(const CliOptions& options, const CliPlatform& unchosen, const CliStreams& streams,
           const std::atomic<bool>& stopRequested) {
    // From here on, of the updatable devices only those that --device names are attached.
    CChosenHidPort chosenHid(unchosen.HidPort, options.Device);
    CChosenUsbDeviceList chosenUsb(unchosen.UsbDevices, options.Device);
    CliPlatform platform{chosenHid,
                         chosenUsb,
                         unchosen.Language,
                         unchosen.DriveCopy,
                         unchosen.pDeviceNotices,
                         unchosen.Guards,
                         unchosen.pHistory};
    platform.DriveCopy.pUsbDevices = &chosenUsb;
    if (options.List) {
        if (options.Json) {
            streams.Out << DevicesJson(FindUpdatableDevices(platform.HidPort, platform.UsbDevices))
                        << '\n';
        } else {
            ListUpdatableDevices(platform.HidPort, platform.UsbDevices, streams.Out);
        }
        return kExitSuccess;
    }
    if (options.History) {
        return PrintHistory(platform.pHistory, options.Json, streams.Out, streams.Err);
    }
    // Why a run did not start is the last thing said on standard error; --json repeats it.
    CLastLineBuffer errorLines(streams.Err.rdbuf());
    std::ostream runErrors(&errorLines);
    const CliStreams runStreams{streams.Out, runErrors, streams.InputFd, streams.bInputIsTerminal,
                                streams.bOutputIsTerminal};
    RunRecording recording;
    const int status =
        CheckAndUpdate(options, platform, runStreams, streams.Err, stopRequested, recording);
    runErrors.flush();
    if (!recording.Append.Ok()) {
        streams.Err << kProgramName << ": this run was not recorded in the history ("
                    << ToString(recording.Append.Error) << "): " << recording.Append.Detail << '\n';
    }
    if (options.Json) {
        streams.Out << UpdateRunJson(recording.Record, status, errorLines.LastLine()) << std::endl;
    }
    return status;
}

}  // namespace tarvex
