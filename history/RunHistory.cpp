#include "history/RunHistory.h"

#include <nlohmann/json.hpp>

namespace tarvex {

CRunHistory::CRunHistory(std::filesystem::path file) : m_File(std::move(file)) {}

std::filesystem::path CRunHistory::DefaultFile() {
    const std::filesystem::path folder = UserStateFolder();
    return folder.empty() ? folder : folder / kHistoryFileName;
}

RecordFileResult CRunHistory::Append(const RunRecord& record) const {
    return AppendRecordLine(m_File, JsonLine(RunRecordToJson(record)), kHistoryRecordLimit);
}

HistoryContents CRunHistory::Read() const {
    HistoryContents contents;
    std::string text;
    contents.Read = ReadRecordFile(m_File, text);
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool bComplete = end != std::string::npos;
        if (!bComplete) {
            end = text.size();
        }
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty()) {
            continue;
        }
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        std::optional<RunRecord> record;
        if (!parsed.is_discarded()) {
            record = RunRecordFromJson(parsed);
        }
        if (!record) {
            contents.Notes.push_back("line " + std::to_string(lineNumber) +
                                     (bComplete ? ": damaged, skipped" : ": cut short, skipped"));
            continue;
        }
        contents.Records.push_back(std::move(*record));
    }
    return contents;
}

std::optional<RunRecord> CRunHistory::Last() const {
    HistoryContents contents = Read();
    if (contents.Records.empty()) {
        return std::nullopt;
    }
    return std::move(contents.Records.back());
}

}  // namespace tarvex
