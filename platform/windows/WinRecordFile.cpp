// The Windows side of platform/RecordFile.h: LockFileEx on the lock file, appending writes
// flushed with FlushFileBuffers, MoveFileEx for the trim, and the folder in the user's local
// application data.

#include <windows.h>

#include <algorithm>

#include "platform/RecordFileCalls.h"
#include "platform/windows/WinErrors.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinUserFolders.h"

namespace tarvex {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

RecordFileResult SystemFailure(RecordFileError error, const std::filesystem::path& path,
                               DWORD code) {
    return {error, path.string() + ": " + Win32ErrorText(code)};
}

class CLockFileHold final : public recordfile::CLockHold {
public:
    explicit CLockFileHold(UniqueHandle file) : m_File(std::move(file)) {}
    ~CLockFileHold() override {
        OVERLAPPED whole{};
        ::UnlockFileEx(m_File.get(), 0, MAXDWORD, MAXDWORD, &whole);
    }
    CLockFileHold(const CLockFileHold&) = delete;
    CLockFileHold& operator=(const CLockFileHold&) = delete;

private:
    UniqueHandle m_File;
};

// Opens for writing and refuses anything but a file on a disk (a folder, a named pipe, a
// console or a device name).
RecordFileResult OpenForWriting(const std::filesystem::path& path, DWORD access, DWORD disposition,
                                UniqueHandle& file) {
    file = AdoptHandle(
        ::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, disposition,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        // A folder cannot be opened as a file at all: tell it apart from a denied file.
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return {RecordFileError::NotRegularFile, path.string() + ": not a regular file"};
        }
        return SystemFailure(RecordFileError::CannotOpen, path, code);
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        file.reset();
        return {RecordFileError::NotRegularFile, path.string() + ": not a regular file"};
    }
    return {};
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 20));
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

namespace recordfile {

std::unique_ptr<CLockHold> LockExclusive(const std::filesystem::path& lockPath,
                                         RecordFileResult& result) {
    UniqueHandle file;
    result = OpenForWriting(lockPath, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, file);
    if (!result.Ok()) {
        if (result.Error != RecordFileError::NotRegularFile) {
            result.Error = RecordFileError::CannotLock;
        }
        return nullptr;
    }
    const bool bTaken = RetryLock(lockPath, result, [&] {
        OVERLAPPED whole{};
        if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                         MAXDWORD, MAXDWORD, &whole)) {
            return LockAttempt::Taken;
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            return LockAttempt::Busy;
        }
        result = SystemFailure(RecordFileError::CannotLock, lockPath, code);
        return LockAttempt::Failed;
    });
    return bTaken ? std::make_unique<CLockFileHold>(std::move(file)) : nullptr;
}

RecordFileResult AppendSynced(const std::filesystem::path& path, std::string_view bytes) {
    UniqueHandle file;
    // FILE_APPEND_DATA alone: every write goes to the end, as O_APPEND does.
    if (auto opened = OpenForWriting(path, FILE_APPEND_DATA, OPEN_ALWAYS, file); !opened.Ok()) {
        return opened;
    }
    if (!WriteAll(file.get(), bytes) || !::FlushFileBuffers(file.get())) {
        return SystemFailure(RecordFileError::CannotWrite, path, ::GetLastError());
    }
    return {};
}

RecordFileResult ReplaceSynced(const std::filesystem::path& path,
                               const std::filesystem::path& temporary, std::string_view bytes) {
    {
        UniqueHandle file;
        if (auto opened = OpenForWriting(temporary, GENERIC_WRITE, CREATE_ALWAYS, file);
            !opened.Ok()) {
            return opened;
        }
        if (!WriteAll(file.get(), bytes) || !::FlushFileBuffers(file.get())) {
            const RecordFileResult failed =
                SystemFailure(RecordFileError::CannotWrite, temporary, ::GetLastError());
            file.reset();
            ::DeleteFileW(temporary.c_str());
            return failed;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const RecordFileResult failed =
            SystemFailure(RecordFileError::CannotWrite, path, ::GetLastError());
        ::DeleteFileW(temporary.c_str());
        return failed;
    }
    return {};
}

}  // namespace recordfile

std::filesystem::path UserStateFolder() {
    const std::filesystem::path programData = UserLocalDataFolder();
    if (programData.empty()) {
        return {};
    }
    return programData.parent_path() / L"Tarvex Update";
}

}  // namespace tarvex
