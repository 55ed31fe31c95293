#include "platform/windows/WinFileWriter.h"

#include <windows.h>

#include <algorithm>
#include <limits>

#include "platform/windows/WinErrors.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

namespace {

// The largest single WriteFile; a lead section is far smaller, but nothing here depends on it.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

FileWriteResult Failure(FileWriteStep step, DWORD error, std::uint64_t written) {
    return FileWriteResult{FileWriteErrorFromWin32(error), step, written, Win32ErrorText(error)};
}

FileWriteResult NotARegularFile() {
    return FileWriteResult{FileWriteError::NotRegularFile, FileWriteStep::Open, 0,
                           "the name is taken by a link, a folder or a device"};
}

bool IsRegularFile(HANDLE file) {
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information)) {
        return false;
    }
    return (information.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool IsFolder(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

FileWriteResult CWinFileWriter::WriteWholeFile(const std::filesystem::path& path,
                                               std::span<const std::uint8_t> bytes) {
    UniqueHandle file =
        AdoptHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && IsFolder(path)) {
            return NotARegularFile();
        }
        return Failure(FileWriteStep::Open, error, 0);
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (!IsRegularFile(file.get())) {
        return NotARegularFile();
    }
    if (!::SetEndOfFile(file.get())) {  // the position is still 0 after the open
        // An earlier file of this name is still whole: failed as an open, so that it is left
        // in place. One just made is empty, and goes like any partial file.
        return Failure(existed ? FileWriteStep::Open : FileWriteStep::Write, ::GetLastError(), 0);
    }
    std::uint64_t written = 0;
    while (written < bytes.size()) {
        const auto rest = bytes.subspan(static_cast<std::size_t>(written));
        const auto size = static_cast<DWORD>(std::min(rest.size(), kLargestWrite));
        DWORD count = 0;
        if (!::WriteFile(file.get(), rest.data(), size, &count, nullptr)) {
            return Failure(FileWriteStep::Write, ::GetLastError(), written);
        }
        if (count == 0) {
            return Failure(FileWriteStep::Write, ERROR_WRITE_FAULT, written);
        }
        written += count;
    }
    if (!::FlushFileBuffers(file.get())) {
        return Failure(FileWriteStep::Flush, ::GetLastError(), written);
    }
    // CloseHandle releases the handle even when it reports a failure, so it is never closed
    // twice; such a failure still means the copy failed.
    if (!::CloseHandle(file.release())) {
        return Failure(FileWriteStep::Close, ::GetLastError(), written);
    }
    return FileWriteResult{FileWriteError::None, FileWriteStep::Close, written, {}};
}

}  // namespace tarvex
