#pragma once
// Drives a window program of another process from outside, the way Windows test tools do: finds
// its windows by process and caption, reads controls by id (WM_GETTEXT, PBM_GETPOS,
// IsWindowEnabled), presses buttons (BM_CLICK), types keys and moves the pointer (SendInput),
// and reads the screen's pixels.

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::testing {

using namespace std::chrono_literals;

// How long the window gets for anything it is expected to do (the first start of a wine
// program in a session included).
inline constexpr std::chrono::milliseconds kPatience{20'000};

// Repeats `condition` until it holds or `limit` has passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kPatience);

// One run of a window program, ended (killed if need be) when the object goes.
class CWindowProgram {
public:
    CWindowProgram(const std::wstring& program, const std::wstring& arguments);
    ~CWindowProgram();
    CWindowProgram(const CWindowProgram&) = delete;
    CWindowProgram& operator=(const CWindowProgram&) = delete;

    bool Started() const { return m_Process.hProcess != nullptr; }
    DWORD ProcessId() const { return m_Process.dwProcessId; }
    // Whether the process ended within `limit`.
    bool WaitForExit(std::chrono::milliseconds limit);
    std::optional<DWORD> ExitCode() const;

    // Visible top-level windows of the process, in no particular order.
    std::vector<HWND> TopLevelWindows() const;
    // The visible top-level window with this caption, waiting for it; null when none came.
    HWND WaitForWindow(const std::wstring& caption,
                       std::chrono::milliseconds limit = kPatience) const;
    // The visible top-level window that has a child with this control id; null when none came.
    HWND WaitForWindowWithControl(int controlId, std::chrono::milliseconds limit = kPatience) const;
    // The system's open-file dialog: a #32770 window with an edit field.
    HWND WaitForFileDialog(std::chrono::milliseconds limit = kPatience) const;

private:
    PROCESS_INFORMATION m_Process{};
};

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int controlId);
std::wstring ClassName(HWND window);
int ProgressPosition(HWND dialog, int controlId);
std::pair<int, int> ProgressRange(HWND dialog, int controlId);
bool ControlEnabled(HWND dialog, int controlId);
// The control's rectangle in the dialog's client pixels.
RECT ControlRect(HWND dialog, int controlId);
RECT ScreenRect(HWND window);
// Every static text of a window (a message box's text among them).
std::vector<std::wstring> StaticTexts(HWND window);

// Presses a button as a click would, without the pointer.
void ClickButton(HWND dialog, int controlId);
// Brings `window` to the front and types one key (down and up) with SendInput.
void TypeKey(HWND window, WORD virtualKey);
// Makes `window` the foreground window and waits until the system says it is; whether it
// became so. Only the foreground thread's mouse capture takes the pointer's moves outside the
// capturing window, so a test of what follows the pointer needs it first.
bool BringToFront(HWND window);
// Moves the pointer to a screen point with SendInput.
void MovePointer(POINT screen);
POINT CursorPosition();
// Puts the pointer on `screen` until it stays there and `shows` holds: moved there again (by way
// of the next pixel, so that the move is a move) whenever it is found elsewhere, and now and then
// while `shows` does not hold yet. Whether `shows` came to hold within kPatience.
bool RestPointerUntil(POINT screen, const std::function<bool()>& shows);
// The colour of one screen pixel.
COLORREF ScreenPixel(POINT screen);
// Saves the screen's pixels in `area` as a 24-bit bitmap file.
bool SaveScreenArea(const RECT& area, const std::wstring& path);

// Chooses `path` in the open-file dialog and confirms it; waits until the dialog has taken it
// (closed, or disabled under a message of its own) and says whether it did.
bool ChooseFile(HWND fileDialog, const std::wstring& path);

}  // namespace tarvex::testing
