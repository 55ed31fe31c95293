#include "cli/ConsoleUpdateView.h"

#include <algorithm>

#include "platform/Terminal.h"

namespace tarvex {

namespace {
constexpr int kBarWidth = 40;
// Percentage lines (no terminal) are written in steps of this size, so a log stays short.
constexpr unsigned kProgressLineStep = 5;
constexpr int kAnswerPollMs = 100;

// Texts keep the CR LF line breaks of the text table; a terminal wants LF alone.
std::string ForTerminal(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}
}  // namespace

CConsoleUpdateView::CConsoleUpdateView(std::ostream& out, std::ostream& err,
                                       ConsoleSettings settings)
    : m_Out(out), m_Err(err), m_Settings(std::move(settings)) {}

void CConsoleUpdateView::EnableUpdateButton(bool) {}

void CConsoleUpdateView::EndProgressLineLocked() {
    if (m_bProgressLineOpen) {
        m_Out << '\n';
        m_bProgressLineOpen = false;
    }
}

void CConsoleUpdateView::PrintLineLocked(const std::string& text) {
    EndProgressLineLocked();
    m_Out << ForTerminal(text) << '\n' << std::flush;
}

void CConsoleUpdateView::SetVersionText(const std::string& text) {
    std::lock_guard lock(m_Lock);
    // The window shows and clears the same text as devices come and go; a terminal reports a
    // version once, when the device tells a new one.
    if (text.empty() || text == m_LastVersionText) {
        return;
    }
    m_LastVersionText = text;
    PrintLineLocked("Device firmware version: " + text);
    m_Changed.notify_all();
}

void CConsoleUpdateView::SetProgress(unsigned position) {
    std::lock_guard lock(m_Lock);
    const unsigned shown = std::min(position, 100U);
    // Only forward movement is shown: the engine sets 0 after the result, which is not news.
    if (shown <= m_LastProgress) {
        return;
    }
    if (!m_Settings.bOutputIsTerminal && shown < 100 &&
        shown / kProgressLineStep == m_LastProgress / kProgressLineStep) {
        return;
    }
    m_LastProgress = shown;
    if (m_Settings.bOutputIsTerminal) {
        const int filled = static_cast<int>(shown) * kBarWidth / 100;
        m_Out << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kBarWidth - filled), '-') << "] " << shown
              << '%' << std::flush;
        m_bProgressLineOpen = true;
    } else {
        m_Out << shown << "%\n" << std::flush;
    }
}

int CConsoleUpdateView::ShowPrompt(const std::string& text, int mode) {
    if (mode != kPromptQuestion) {
        std::lock_guard lock(m_Lock);
        PrintLineLocked(text);
        return kPromptOk;
    }
    if (m_Settings.bAssumeYes) {
        std::lock_guard lock(m_Lock);
        PrintLineLocked(text + " [y/N] y (--yes)");
        return kPromptOk;
    }
    if (!m_Settings.bInputIsTerminal) {
        std::lock_guard lock(m_Lock);
        PrintLineLocked(text + " [y/N]");
        m_Err << "No terminal to answer on: declined (use --yes to confirm)." << std::endl;
        return kPromptCancel;
    }
    return AskOnTerminal(text);
}

int CConsoleUpdateView::AskOnTerminal(const std::string& text) {
    {
        std::lock_guard lock(m_Lock);
        EndProgressLineLocked();
        m_Out << ForTerminal(text) << " [y/N] " << std::flush;
    }
    std::string answer;
    for (;;) {
        if (Interrupted()) {
            return kPromptCancel;
        }
        char c = 0;
        const TerminalRead read =
            ReadTerminalByte(m_Settings.InputFd, c, std::chrono::milliseconds(kAnswerPollMs));
        if (read == TerminalRead::NothingYet) {
            continue;
        }
        if (read == TerminalRead::Ended || c == '\n') {
            break;
        }
        answer.push_back(c);
    }
    return answer == "y" || answer == "Y" || answer == "yes" ? kPromptOk : kPromptCancel;
}

void CConsoleUpdateView::ShowSuccessBox(const std::string& text, const std::string&) {
    std::lock_guard lock(m_Lock);
    PrintLineLocked(text);
}

std::optional<std::filesystem::path> CConsoleUpdateView::AskImagePath(
    const std::string&, const std::filesystem::path&) {
    if (Interrupted()) {
        return std::nullopt;
    }
    return m_Settings.ImagePath;
}

void CConsoleUpdateView::OnUpdateRunEnded(UpdateOutcome outcome) {
    std::lock_guard lock(m_Lock);
    EndProgressLineLocked();
    m_Outcome = outcome;
    m_Changed.notify_all();
}

void CConsoleUpdateView::ShowDriveVolumeWait(std::chrono::seconds limit) {
    std::lock_guard lock(m_Lock);
    PrintLineLocked("Waiting for the drive-mode device's volume to be mounted (at most " +
                    std::to_string(limit.count()) + " s)...");
}

void CConsoleUpdateView::ShowDriveMountStep(const DriveMountNotice& notice) {
    std::lock_guard lock(m_Lock);
    switch (notice.Step) {
        case DriveMountStep::Mounting:
            PrintLineLocked("Mounting the drive-mode device's volume " + notice.Device + "...");
            return;
        case DriveMountStep::Mounted:
            PrintLineLocked("Mounted " + notice.Device + " at " + notice.MountPoint.string() + ".");
            return;
        case DriveMountStep::MountRefused:
            EndProgressLineLocked();
            m_Err << "Mounting " << notice.Device << " was refused: " << notice.SystemMessage
                  << '\n';
            return;
        case DriveMountStep::Unmounted:
            PrintLineLocked("Unmounted " + notice.Device + " again.");
            return;
        case DriveMountStep::UnmountFailed:
            EndProgressLineLocked();
            m_Err << "Could not unmount " << notice.Device << " (" << notice.SystemMessage
                  << "); it stays mounted: unmount it before unplugging the device.\n";
            return;
        case DriveMountStep::LeftWithDevice:
            PrintLineLocked("The device went away with its volume " + notice.Device +
                            " after the copy: nothing left to unmount.");
            return;
    }
}

bool CConsoleUpdateView::WaitForVersionText(std::chrono::milliseconds timeout,
                                            const std::atomic<bool>& stopRequested) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_Lock);
    // A signal handler cannot take the lock, so its flag is looked at in short slices.
    while (m_LastVersionText.empty() && !m_bInterrupted) {
        if (stopRequested.load()) {
            m_bInterrupted = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        m_Changed.wait_until(lock,
                             std::min(deadline, now + std::chrono::milliseconds(kAnswerPollMs)));
    }
    return !m_LastVersionText.empty() && !m_bInterrupted;
}

std::optional<UpdateOutcome> CConsoleUpdateView::RunOutcome() const {
    std::lock_guard lock(m_Lock);
    return m_Outcome;
}

void CConsoleUpdateView::PrintLine(const std::string& text) {
    std::lock_guard lock(m_Lock);
    PrintLineLocked(text);
}

std::optional<UpdateOutcome> CConsoleUpdateView::WaitForRunEnd(
    const std::atomic<bool>& stopRequested) {
    std::unique_lock lock(m_Lock);
    // A signal handler cannot take the lock, so its flag is looked at in short slices.
    while (!m_Outcome && !m_bInterrupted) {
        if (stopRequested.load()) {
            m_bInterrupted = true;
            break;
        }
        m_Changed.wait_for(lock, std::chrono::milliseconds(kAnswerPollMs));
    }
    return m_bInterrupted ? std::nullopt : m_Outcome;
}

void CConsoleUpdateView::Interrupt() {
    std::lock_guard lock(m_Lock);
    m_bInterrupted = true;
    m_Changed.notify_all();
}

bool CConsoleUpdateView::Interrupted() const {
    std::lock_guard lock(m_Lock);
    return m_bInterrupted;
}

}  // namespace tarvex
