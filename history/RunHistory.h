#pragma once
// CRunHistory: the history file of runs, one JSON object per line, the most recent
// kHistoryRecordLimit kept. Appends from several programs at once stay whole (see
// platform/RecordFile.h); reading skips a damaged line and says so.
//
// Threads: any; the object holds nothing but the file's name.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "history/RunRecord.h"
#include "platform/RecordFile.h"

namespace tarvex {

inline constexpr std::size_t kHistoryRecordLimit = 200;
inline constexpr const char* kHistoryFileName = "history.jsonl";

struct HistoryContents {
    std::vector<RunRecord> Records;  // oldest first
    // One per line that was skipped: "line N: ...".
    std::vector<std::string> Notes;
    RecordFileResult Read;
};

class CRunHistory {
public:
    explicit CRunHistory(std::filesystem::path file);
    // history.jsonl in this user's state folder; empty when the system names none.
    static std::filesystem::path DefaultFile();

    const std::filesystem::path& File() const { return m_File; }
    RecordFileResult Append(const RunRecord& record) const;
    HistoryContents Read() const;
    // The most recent record that reads whole.
    std::optional<RunRecord> Last() const;

private:
    std::filesystem::path m_File;
};

}  // namespace tarvex
