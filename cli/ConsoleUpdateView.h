#pragma once
// The update window on a terminal. Control updates become lines (or a progress bar when
// standard output is a terminal); the version question is asked on the terminal.
// Every call may come from a worker thread; output is serialised by one lock.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "update/UpdateView.h"

namespace tarvex {

struct ConsoleSettings {
    std::filesystem::path ImagePath;  // the answer to the file dialog
    bool bAssumeYes = false;          // --yes answers the version question with OK
    bool bInputIsTerminal = false;    // without a terminal the question is declined
    bool bOutputIsTerminal = false;   // a bar instead of percentage lines
    int InputFd = 0;                  // where the answer to the question is read
};

class CConsoleUpdateView final : public CUpdateView {
public:
    CConsoleUpdateView(std::ostream& out, std::ostream& err, ConsoleSettings settings);

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

    // Waits until the device has reported a version (true), or `timeout` passed, or the user
    // interrupted (Interrupt, or `stopRequested` set by a signal handler) (false).
    bool WaitForVersionText(std::chrono::milliseconds timeout,
                            const std::atomic<bool>& stopRequested);
    // Waits until the run has ended, or until Interrupt was called or `stopRequested` (set by a
    // signal handler) became true; empty when interrupted.
    std::optional<UpdateOutcome> WaitForRunEnd(const std::atomic<bool>& stopRequested);
    // The outcome the run-ended notice carried; empty before it came.
    std::optional<UpdateOutcome> RunOutcome() const;
    // Prints a closing line of the program's own (standard output, after any progress bar).
    void PrintLine(const std::string& text);
    // The user wants out (Ctrl-C): a question being asked is declined, waits return.
    void Interrupt();
    bool Interrupted() const;

private:
    void EndProgressLineLocked();
    void PrintLineLocked(const std::string& text);
    int AskOnTerminal(const std::string& text);

    std::ostream& m_Out;
    std::ostream& m_Err;
    const ConsoleSettings m_Settings;

    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_bProgressLineOpen = false;
    unsigned m_LastProgress = 0;
    std::string m_LastVersionText;
    std::optional<UpdateOutcome> m_Outcome;
    bool m_bInterrupted = false;
};

}  // namespace tarvex
