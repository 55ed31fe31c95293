#pragma once
// A file of whole lines that several programs append to at once (the history of runs), and the
// folder where this program keeps such state. The checks and the trimming are here; the lock,
// the synced writes and the folder come from the system's backend (linux/FlockRecordFile.cpp,
// windows/WinRecordFile.cpp).
//
// Every call holds a lock file beside the file ("NAME.lock") while it reads or writes: another
// program sees a line whole or not at all, and a trim never drops a line appended meanwhile. A
// line goes out in one write and is flushed to the disk before the lock is let go, so a crash or
// a power loss leaves the lines before it readable. A trim writes the kept lines into a
// temporary file, flushes it and renames it over the file, under the same lock.
//
// Threads: any thread; calls on the same file from one process serialise through the lock too.
// Never throws; a failure is a value, and no call waits longer than kRecordLockWait for another
// program's lock.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvex {

inline constexpr std::chrono::milliseconds kRecordLockWait{1000};

enum class RecordFileError {
    None,
    NoFolder,  // the system names no state folder for this user
    CannotCreateFolder,
    LockBusy,  // another program held the lock for longer than kRecordLockWait
    CannotLock,
    NotRegularFile,  // the name leads to a folder, a pipe, a device node...
    CannotOpen,
    CannotWrite,  // a full disk, a read-only file system...
    CannotRead,
};

const char* ToString(RecordFileError error);

struct RecordFileResult {
    RecordFileError Error = RecordFileError::None;
    std::string Detail;  // the system's words, naming the file; empty on success
    bool Ok() const { return Error == RecordFileError::None; }
};

// Appends `line` and a line break to `path`, making the folder and the file when they are
// missing. Afterwards, when the file holds more than `keepLines` lines, only the last keepLines
// are kept. `line` must not hold a line break.
RecordFileResult AppendRecordLine(const std::filesystem::path& path, std::string_view line,
                                  std::size_t keepLines);

// The whole file into `contents`, read under the lock. A missing file reads as empty.
RecordFileResult ReadRecordFile(const std::filesystem::path& path, std::string& contents);

// This program's state folder: on Linux tarvex-update under $XDG_STATE_HOME (when absolute),
// else under ~/.local/state; on Windows "Tarvex Update" under the user's local application data.
// Empty when the system names none.
std::filesystem::path UserStateFolder();

}  // namespace tarvex
