#pragma once
// The system's side of platform/RecordFile.h, one implementation per system. Only
// platform/RecordFile.cpp calls these.

#include <filesystem>
#include <memory>
#include <string_view>

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

// Appends `bytes` to `path` (made when missing) in one write and flushes them to the disk. A
// name that leads to something other than a regular file is refused without writing.
RecordFileResult AppendSynced(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` to `temporary`, flushes it and renames it over `path`.
RecordFileResult ReplaceSynced(const std::filesystem::path& path,
                               const std::filesystem::path& temporary, std::string_view bytes);

}  // namespace tarvex::recordfile
