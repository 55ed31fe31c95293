#include "tests/win32/WindowDriver.h"

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tarvex::testing {

namespace {

constexpr UINT kMessageTimeoutMs = 5000;
constexpr auto kPollInterval = 50ms;

struct WindowSearch {
    DWORD ProcessId = 0;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == search.ProcessId && ::IsWindowVisible(window)) {
        search.Found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                          &result);
    return static_cast<LRESULT>(result);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

CWindowProgram::CWindowProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &m_Process)) {
        m_Process = {};
    }
}

CWindowProgram::~CWindowProgram() {
    if (m_Process.hProcess != nullptr) {
        if (::WaitForSingleObject(m_Process.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_Process.hProcess, 3);
            ::WaitForSingleObject(m_Process.hProcess, 10'000);
        }
        ::CloseHandle(m_Process.hProcess);
        ::CloseHandle(m_Process.hThread);
    }
}

bool CWindowProgram::WaitForExit(std::chrono::milliseconds limit) {
    return m_Process.hProcess != nullptr &&
           ::WaitForSingleObject(m_Process.hProcess, static_cast<DWORD>(limit.count())) ==
               WAIT_OBJECT_0;
}

std::optional<DWORD> CWindowProgram::ExitCode() const {
    DWORD code = 0;
    if (m_Process.hProcess == nullptr || !::GetExitCodeProcess(m_Process.hProcess, &code) ||
        code == STILL_ACTIVE) {
        return std::nullopt;
    }
    return code;
}

std::vector<HWND> CWindowProgram::TopLevelWindows() const {
    WindowSearch search;
    search.ProcessId = m_Process.dwProcessId;
    ::EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND CWindowProgram::WaitForWindow(const std::wstring& caption,
                                   std::chrono::milliseconds limit) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows()) {
                if (WindowText(window) == caption) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        limit);
    return found;
}

HWND CWindowProgram::WaitForWindowWithControl(int controlId,
                                              std::chrono::milliseconds limit) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows()) {
                if (::GetDlgItem(window, controlId) != nullptr) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        limit);
    return found;
}

HWND CWindowProgram::WaitForFileDialog(std::chrono::milliseconds limit) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows()) {
                if (ClassName(window) != L"#32770") {
                    continue;
                }
                for (HWND child : Children(window)) {
                    if (ClassName(child) == L"Edit" && ::IsWindowVisible(child)) {
                        found = window;
                        return true;
                    }
                }
            }
            return false;
        },
        limit);
    return found;
}

std::wstring WindowText(HWND window) {
    // Stored captions of top-level windows are read without waiting for their thread.
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring ControlText(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    if (control == nullptr) {
        return L"<no control>";
    }
    wchar_t text[2048] = {};
    Send(control, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

int ProgressPosition(HWND dialog, int controlId) {
    return static_cast<int>(Send(::GetDlgItem(dialog, controlId), PBM_GETPOS, 0, 0));
}

std::pair<int, int> ProgressRange(HWND dialog, int controlId) {
    HWND bar = ::GetDlgItem(dialog, controlId);
    return {static_cast<int>(Send(bar, PBM_GETRANGE, TRUE, 0)),
            static_cast<int>(Send(bar, PBM_GETRANGE, FALSE, 0))};
}

bool ControlEnabled(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    return control != nullptr && ::IsWindowEnabled(control) != FALSE;
}

RECT ControlRect(HWND dialog, int controlId) {
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(dialog, controlId), &rect);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT ScreenRect(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}

std::vector<std::wstring> StaticTexts(HWND window) {
    std::vector<std::wstring> texts;
    for (HWND child : Children(window)) {
        if (ClassName(child) == L"Static") {
            wchar_t text[1024] = {};
            Send(child, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
            texts.emplace_back(text);
        }
    }
    return texts;
}

void ClickButton(HWND dialog, int controlId) {
    // Posted: the button's owner may open a window of its own in answer.
    ::PostMessageW(::GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
}

void TypeKey(HWND window, WORD virtualKey) {
    ::SetForegroundWindow(window);
    INPUT keys[2] = {};
    keys[0].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = virtualKey;
    keys[1] = keys[0];
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, keys, sizeof(INPUT));
}

bool BringToFront(HWND window) {
    return WaitUntil([&] {
        if (::GetForegroundWindow() == window) {
            return true;
        }
        ::SetForegroundWindow(window);
        return false;
    });
}

void MovePointer(POINT screen) {
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = static_cast<LONG>((screen.x * 65535LL + width / 2) / (width - 1));
    move.mi.dy = static_cast<LONG>((screen.y * 65535LL + height / 2) / (height - 1));
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &move, sizeof(INPUT));
}

POINT CursorPosition() {
    POINT at{-1, -1};
    ::GetCursorPos(&at);
    return at;
}

bool RestPointerUntil(POINT screen, const std::function<bool()>& shows) {
    constexpr int kLooksBetweenNudges = 10;
    int looks = 0;
    MovePointer(screen);
    return WaitUntil([&] {
        const POINT at = CursorPosition();
        const bool there = at.x == screen.x && at.y == screen.y;
        if (there && shows()) {
            return true;
        }
        if (!there || ++looks % kLooksBetweenNudges == 0) {
            MovePointer(POINT{screen.x + 1, screen.y});
            MovePointer(screen);
        }
        return false;
    });
}

COLORREF ScreenPixel(POINT screen) {
    HDC screenDc = ::GetDC(nullptr);
    const COLORREF colour = ::GetPixel(screenDc, screen.x, screen.y);
    ::ReleaseDC(nullptr, screenDc);
    return colour;
}

bool SaveScreenArea(const RECT& area, const std::wstring& path) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a bitmap file keeps its rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screenDc = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screenDc);
    HBITMAP picture = ::CreateDIBSection(screenDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory != nullptr && picture != nullptr) {
        HGDIOBJ previous = ::SelectObject(memory, picture);
        ::BitBlt(memory, 0, 0, width, height, screenDc, area.left, area.top, SRCCOPY);
        ::GdiFlush();
        ::SelectObject(memory, previous);
        const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = file.bfOffBits + imageBytes;
        std::ofstream out(std::filesystem::path(path), std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof(file));
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
        out.write(static_cast<const char*>(bits), imageBytes);
        saved = static_cast<bool>(out);
    }
    if (picture != nullptr) {
        ::DeleteObject(picture);
    }
    if (memory != nullptr) {
        ::DeleteDC(memory);
    }
    ::ReleaseDC(nullptr, screenDc);
    return saved;
}

bool ChooseFile(HWND fileDialog, const std::wstring& path) {
    HWND edit = nullptr;
    for (HWND child : Children(fileDialog)) {
        if (ClassName(child) == L"Edit" && ::IsWindowVisible(child)) {
            edit = child;
            break;
        }
    }
    if (edit == nullptr) {
        return false;
    }
    // The dialog may still be filling its own fields when it first shows (the name field
    // among them) and overwrite a path typed too early; the path is typed again, and confirmed
    // again, for as long as the dialog is open, takes input and no longer shows it.
    bool typed = false;
    return WaitUntil([&] {
        if (!::IsWindow(fileDialog) || !::IsWindowVisible(fileDialog) ||
            ::IsWindowEnabled(fileDialog) == FALSE) {
            return true;  // it took the path: closed, or showing a message of its own about it
        }
        wchar_t shown[2048] = {};
        Send(edit, WM_GETTEXT, std::size(shown), reinterpret_cast<LPARAM>(shown));
        if (!typed || path != shown) {
            if (typed) {
                // Rare, and what makes a run slower than others: worth a line in its log.
                std::fprintf(stderr, "file dialog: the path was replaced by '%ls'; typed again\n",
                             shown);
            }
            Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
            ::PostMessageW(fileDialog, WM_COMMAND, IDOK, 0);
            typed = true;
        }
        return false;
    });
}

}  // namespace tarvex::testing
