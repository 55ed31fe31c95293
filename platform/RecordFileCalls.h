#pragma once
// The system's side of platform/RecordFile.h, one implementation per system. Only
// platform/RecordFile.cpp calls these.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string_view>
#include <thread>

#include "platform/RecordFile.h"

namespace tarvex::recordfile {

// Held while a process works on the file; destruction lets the lock go.
class CLockHold {
public:
    virtual ~CLockHold() = default;
};

// Takes `lockPath` (made when missing) for this process alone, waiting at most kRecordLockWait.
// Null with `result` saying why when it cannot.
std::unique_ptr<CLockHold> LockExclusive(const std::filesystem::path& lockPath,
                                         RecordFileResult& result);

// One try at a lock: taken, held by another program (try again), or failed (the try has put the
// reason in the caller's result).
enum class LockAttempt { Taken, Busy, Failed };

// Tries `tryOnce` until it takes the lock or fails, for at most kRecordLockWait; then the lock
// is busy and `result` says so. True when the lock was taken.
template <typename TryOnce>
bool RetryLock(const std::filesystem::path& lockPath, RecordFileResult& result, TryOnce tryOnce) {
    const auto deadline = std::chrono::steady_clock::now() + kRecordLockWait;
    for (;;) {
        const LockAttempt attempt = tryOnce();
        if (attempt != LockAttempt::Busy) {
            return attempt == LockAttempt::Taken;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result = {RecordFileError::LockBusy,
                      lockPath.string() + ": held by another program for too long"};
            return false;
        }
        // Short, so that a waiting program finds the lock free between another's appends.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Appends `bytes` to `path` (made when missing) in one write and flushes them to the disk. A
// name that leads to something other than a regular file is refused without writing.
RecordFileResult AppendSynced(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` to `temporary`, flushes it and renames it over `path`.
RecordFileResult ReplaceSynced(const std::filesystem::path& path,
                               const std::filesystem::path& temporary, std::string_view bytes);

}  // namespace tarvex::recordfile
