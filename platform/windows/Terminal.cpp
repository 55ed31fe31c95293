// The terminal program's console on Windows: the wide command line, binary standard streams
// with a UTF-8 console, a console control handler for Ctrl-C and the console's close
// (WinConsoleControl.h), and an answer read from a console, a pipe or a file.

#include "platform/Terminal.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinConsoleControl.h"

namespace tarvex {

namespace {

std::atomic<bool>* StopFlag = nullptr;
// Set by WorkEnded; a closing console waits for it. Manual reset, made by StopOnInterrupt.
HANDLE WorkEndedEvent = nullptr;
UINT ConsoleCodePageAtStart = 0;

// How often a pipe without data is looked at again while an answer is awaited.
constexpr DWORD kPipePeekSliceMs = 20;

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(ConsoleCodePageAtStart);
}

// A console hands its input over line by line; what is left of a line after the byte asked for
// waits here for the next calls.
struct ConsoleLine {
    std::mutex Lock;
    std::string Bytes;
};

ConsoleLine& PendingConsoleLine() {
    static ConsoleLine line;
    return line;
}

bool TakePending(std::string& pending, char& byte) {
    if (pending.empty()) {
        return false;
    }
    byte = pending.front();
    pending.erase(pending.begin());
    return true;
}

// Whether a key press with a character waits in the console's input. Other input (mouse, focus,
// key releases) also wakes a wait on the console; it is read away so that the next wait sleeps.
bool ConsoleHasCharacter(HANDLE console) {
    INPUT_RECORD records[32];
    DWORD count = 0;
    if (!::PeekConsoleInputW(console, records, 32, &count) || count == 0) {
        return false;
    }
    const auto isCharacter = [](const INPUT_RECORD& record) {
        return record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
               record.Event.KeyEvent.uChar.UnicodeChar != 0;
    };
    const auto firstCharacter = std::find_if(records, records + count, isCharacter);
    const auto noise = static_cast<DWORD>(firstCharacter - records);
    if (noise > 0) {
        DWORD discarded = 0;
        ::ReadConsoleInputW(console, records, noise, &discarded);
    }
    return firstCharacter != records + count;
}

TerminalRead ReadConsoleByte(HANDLE console, char& byte, DWORD waitMs) {
    ConsoleLine& line = PendingConsoleLine();
    std::lock_guard lock(line.Lock);
    if (TakePending(line.Bytes, byte)) {
        return TerminalRead::Byte;
    }
    if (::WaitForSingleObject(console, waitMs) != WAIT_OBJECT_0 || !ConsoleHasCharacter(console)) {
        return TerminalRead::NothingYet;
    }
    wchar_t text[256];
    DWORD count = 0;
    // Returns once the line is entered (or Ctrl-C ends it with nothing read).
    if (!::ReadConsoleW(console, text, 256, &count, nullptr) || count == 0) {
        return TerminalRead::Ended;
    }
    line.Bytes = WideToUtf8(std::wstring_view(text, count));
    std::erase(line.Bytes, '\r');
    return TakePending(line.Bytes, byte) ? TerminalRead::Byte : TerminalRead::NothingYet;
}

TerminalRead ReadPipeByte(HANDLE pipe, char& byte, DWORD waitMs) {
    const ULONGLONG end = ::GetTickCount64() + waitMs;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return TerminalRead::Ended;  // the writing end is closed
        }
        if (available > 0) {
            DWORD count = 0;
            return ::ReadFile(pipe, &byte, 1, &count, nullptr) && count == 1 ? TerminalRead::Byte
                                                                             : TerminalRead::Ended;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return TerminalRead::NothingYet;
        }
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kPipePeekSliceMs, end - now)));
    }
}

TerminalRead ReadAnyByte(HANDLE input, char& byte, DWORD waitMs) {
    if (IsConsole(input)) {
        return ReadConsoleByte(input, byte, waitMs);
    }
    if (::GetFileType(input) == FILE_TYPE_PIPE) {
        return ReadPipeByte(input, byte, waitMs);
    }
    DWORD count = 0;  // a file, or the NUL device: never waits
    return ::ReadFile(input, &byte, 1, &count, nullptr) && count == 1 ? TerminalRead::Byte
                                                                      : TerminalRead::Ended;
}

void RequestStop() {
    if (StopFlag != nullptr) {
        StopFlag->store(true);
    }
}

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            RequestStop();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The system ends the program when this returns: not before the run has ended.
            RequestStop();
            if (WorkEndedEvent != nullptr) {
                ::WaitForSingleObject(WorkEndedEvent, kConsoleCloseWaitMs);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(WideToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

std::filesystem::path PathFromArgument(std::string_view argument) {
    return std::filesystem::path(Utf8ToWide(argument));
}

void PrepareStandardStreams() {
    // The C runtime's text mode would put a CR before every LF and stop reading at a Ctrl-Z;
    // the program's output is the same bytes as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    // A console shows the program's UTF-8 only in code page 65001; the console is the user's,
    // so its own code page comes back when the program ends.
    if (IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE)) ||
        IsConsole(::GetStdHandle(STD_ERROR_HANDLE))) {
        ConsoleCodePageAtStart = ::GetConsoleOutputCP();
        if (ConsoleCodePageAtStart != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
            std::atexit(RestoreConsoleCodePage);
        }
    }
}

bool StandardInputIsTerminal() {
    return IsConsole(::GetStdHandle(STD_INPUT_HANDLE));
}

bool StandardOutputIsTerminal() {
    return IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE));
}

void StopOnInterrupt(std::atomic<bool>& stopRequested) {
    if (WorkEndedEvent == nullptr) {
        WorkEndedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } else {
        ::ResetEvent(WorkEndedEvent);
    }
    StopFlag = &stopRequested;
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

void WorkEnded() {
    if (WorkEndedEvent != nullptr) {
        ::SetEvent(WorkEndedEvent);
    }
}

TerminalRead ReadTerminalByte(int fd, char& byte, std::chrono::milliseconds wait) {
    const auto input = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (input == INVALID_HANDLE_VALUE) {
        return TerminalRead::Ended;
    }
    const auto waitMs =
        static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 0x7FFFFFFF));
    // CR LF line ends reach the caller as LF alone.
    for (;;) {
        const TerminalRead read = ReadAnyByte(input, byte, waitMs);
        if (read != TerminalRead::Byte || byte != '\r') {
            return read;
        }
    }
}

}  // namespace tarvex
