#pragma once
// What the update engine needs of the window. The terminal front end implements it on the
// console, the dialog with widgets. The engine knows nothing else of either.
//
// Threads: every call may come from a worker thread. An implementation carries control updates
// to its own UI thread; calls that return an answer (ShowPrompt, AskImagePath, ShowSuccessBox)
// block the calling worker until the user answers, never the UI thread.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "ui/PromptModes.h"

namespace tarvex {

// How an update run ended, for front ends that report it (the terminal's exit status).
enum class UpdateOutcome {
    Succeeded,
    Failed,        // the device refused, went away, or the image failed during the transfer
    Cancelled,     // the user cancelled the file choice or declined the version
    ImageRefused,  // the image could not be opened or cannot hold what it declares
};

const char* ToString(UpdateOutcome outcome);

// A drive-copy run that mounts the device's volume itself, step by step.
enum class DriveMountStep {
    Mounting,        // asking the system to mount Device
    Mounted,         // mounted at MountPoint
    MountRefused,    // the system said no (SystemMessage); the run ends
    Unmounted,       // what the run mounted is unmounted again
    UnmountFailed,   // it stays mounted (SystemMessage); the copy was flushed before
    LeftWithDevice,  // the device left with the volume: there is nothing to unmount
};

struct DriveMountNotice {
    DriveMountStep Step = DriveMountStep::Mounting;
    std::string Device;  // the block device, such as /dev/sdb
    std::filesystem::path MountPoint;
    std::string SystemMessage;  // the system's own words, for traces
};

class CUpdateView {
public:
    virtual ~CUpdateView() = default;

    virtual void EnableUpdateButton(bool enable) = 0;
    virtual void SetVersionText(const std::string& text) = 0;
    // Position in percent. It can exceed 100 after a last chunk that carries bytes past the
    // payload; a widget that ignores such values must clamp.
    virtual void SetProgress(unsigned position) = 0;
    // Returns kPromptOk, kPromptCancel or kPromptNotCreated.
    virtual int ShowPrompt(const std::string& text, int mode) = 0;
    virtual void ShowSuccessBox(const std::string& text, const std::string& caption) = 0;
    // The open-file dialog: a chosen path, or nothing when the user cancelled.
    virtual std::optional<std::filesystem::path> AskImagePath(
        const std::string& filter, const std::filesystem::path& initialFolder) = 0;
    // Called on the run's worker as its last act, once the run has ended, its result message
    // was closed and the device state refreshed; the engine takes the next press from then on.
    // `outcome` is this run's.
    virtual void OnUpdateRunEnded(UpdateOutcome outcome) = 0;
    // A drive-copy run waits, at most `limit`, for the device's volume to be mounted, and goes
    // on by itself once it is. Called once per run that waits; a view may show nothing.
    virtual void ShowDriveVolumeWait(std::chrono::seconds /*limit*/) {}
    // A drive-copy run mounts the device's volume itself, and unmounts it after the copy. Called
    // on the run's worker for each step; a view may show nothing.
    virtual void ShowDriveMountStep(const DriveMountNotice& /*notice*/) {}
    // The failure notice of a drive-copy run: the failure text, and below it `reason`, why the
    // copy failed. Returns as ShowPrompt does. This default shows the failure text alone, for a
    // view that tells the reason its own way (the terminal program does, once the run is over).
    virtual int ShowFailureNotice(const std::string& text, const std::string& /*reason*/) {
        return ShowPrompt(text, kPromptNotice);
    }
};

}  // namespace tarvex
