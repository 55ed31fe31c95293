#include "platform/RecordFile.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/FileAccess.h"
#include "platform/RecordFileCalls.h"

namespace tarvex {

namespace {

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix) {
    std::filesystem::path result = path;
    result += suffix;
    return result;
}

RecordFileResult Failure(RecordFileError error, const std::filesystem::path& path,
                         const std::string& why) {
    return {error, path.string() + ": " + why};
}

// Reads the whole file; a missing file is empty.
RecordFileResult ReadWhole(const std::filesystem::path& path, std::string& contents) {
    contents.clear();
    CReadableFile file(path);
    std::error_code typeError;
    // Windows does not open a folder as a file at all; Linux opens it and finds its type.
    if (file.NotRegularFile() ||
        (!file.IsOpen() && std::filesystem::is_directory(path, typeError))) {
        return Failure(RecordFileError::NotRegularFile, path, "not a regular file");
    }
    if (!file.IsOpen()) {
        if (file.Error() == std::errc::no_such_file_or_directory) {
            return {};
        }
        return Failure(RecordFileError::CannotRead, path, file.Error().message());
    }
    contents.resize(static_cast<std::size_t>(file.Size()));
    std::error_code error;
    const std::size_t got =
        file.Read({reinterpret_cast<std::uint8_t*>(contents.data()), contents.size()}, error);
    contents.resize(got);
    if (error) {
        return Failure(RecordFileError::CannotRead, path, error.message());
    }
    return {};
}

// The last `keepLines` whole lines of `contents`, or nothing when it holds no more than that.
std::optional<std::string_view> LinesToKeep(std::string_view contents, std::size_t keepLines) {
    std::size_t lines =
        static_cast<std::size_t>(std::count(contents.begin(), contents.end(), '\n'));
    if (!contents.empty() && contents.back() != '\n') {
        ++lines;
    }
    if (lines <= keepLines) {
        return std::nullopt;
    }
    std::size_t drop = lines - keepLines;
    std::size_t start = 0;
    while (drop > 0) {
        start = contents.find('\n', start) + 1;
        --drop;
    }
    return contents.substr(start);
}

}  // namespace

const char* ToString(RecordFileError error) {
    switch (error) {
        case RecordFileError::None:
            return "no error";
        case RecordFileError::NoFolder:
            return "no state folder";
        case RecordFileError::CannotCreateFolder:
            return "cannot create the folder";
        case RecordFileError::LockBusy:
            return "locked by another program";
        case RecordFileError::CannotLock:
            return "cannot lock";
        case RecordFileError::NotRegularFile:
            return "not a regular file";
        case RecordFileError::CannotOpen:
            return "cannot open";
        case RecordFileError::CannotWrite:
            return "cannot write";
        case RecordFileError::CannotRead:
            return "cannot read";
    }
    return "unknown error";
}

RecordFileResult AppendRecordLine(const std::filesystem::path& path, std::string_view line,
                                  std::size_t keepLines) {
    if (path.empty()) {
        return {RecordFileError::NoFolder, "the system names no state folder"};
    }
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        return Failure(RecordFileError::CannotCreateFolder, path.parent_path(), error.message());
    }
    RecordFileResult result;
    const auto lock = recordfile::LockExclusive(WithSuffix(path, ".lock"), result);
    if (!lock) {
        return result;
    }
    std::string record(line);
    record.push_back('\n');
    result = recordfile::AppendSynced(path, record);
    if (!result.Ok()) {
        return result;
    }
    std::string contents;
    result = ReadWhole(path, contents);
    if (!result.Ok()) {
        return result;
    }
    if (const auto kept = LinesToKeep(contents, keepLines)) {
        return recordfile::ReplaceSynced(path, WithSuffix(path, ".tmp"), *kept);
    }
    return {};
}

RecordFileResult ReadRecordFile(const std::filesystem::path& path, std::string& contents) {
    contents.clear();
    if (path.empty()) {
        return {RecordFileError::NoFolder, "the system names no state folder"};
    }
    // A folder that cannot take a lock file (a read-only home) still lets its history be read;
    // only a lock that another program holds is waited for.
    RecordFileResult lockResult;
    std::unique_ptr<recordfile::CLockHold> lock;
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        lock = recordfile::LockExclusive(WithSuffix(path, ".lock"), lockResult);
        if (!lock && lockResult.Error == RecordFileError::LockBusy) {
            return lockResult;
        }
    }
    return ReadWhole(path, contents);
}

}  // namespace tarvex
