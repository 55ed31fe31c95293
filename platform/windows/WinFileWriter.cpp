#include "platform/windows/WinFileWriter.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <string_view>

#include "platform/windows/Utf16Text.h"
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

bool IsRegularFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& information) {
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return false;
    }
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

// Marks the open file for deletion when the writer leaves it broken; the mark takes effect when
// the handle is closed, after the handle's own checks, so no other file can be hit by it.
class CRemoveUnlessKept {
public:
    CRemoveUnlessKept(HANDLE file, bool armed) : m_hFile(file), m_bArmed(armed) {}
    ~CRemoveUnlessKept() {
        if (m_bArmed) {
            FILE_DISPOSITION_INFO disposition{};
            disposition.DeleteFile = TRUE;
            ::SetFileInformationByHandle(m_hFile, FileDispositionInfo, &disposition,
                                         sizeof disposition);
        }
    }
    CRemoveUnlessKept(const CRemoveUnlessKept&) = delete;
    CRemoveUnlessKept& operator=(const CRemoveUnlessKept&) = delete;

    // From now on the file holds less than it did: it goes unless kept.
    void Arm(bool armed) { m_bArmed = m_bArmed || armed; }
    void Keep() { m_bArmed = false; }

private:
    HANDLE m_hFile;
    bool m_bArmed;
};

}  // namespace

bool IsVolumeGuidRoot(const std::wstring& name) {
    constexpr std::wstring_view kStart = L"\\\\?\\Volume{";
    return name.size() > kStart.size() + 2 && name.compare(0, kStart.size(), kStart) == 0 &&
           name.back() == L'\\' && name[name.size() - 2] == L'}';
}

FileWriteResult CWinFileWriter::WriteWholeFile(const std::filesystem::path& path,
                                               std::span<const std::uint8_t> bytes) {
    return WriteChecked(path, std::nullopt, false, bytes);
}

FileWriteResult CWinFileWriter::WriteFileOnVolume(const VolumeInfo& volume,
                                                  const std::filesystem::path& name,
                                                  std::span<const std::uint8_t> bytes) {
    const std::wstring source = Utf8ToWide(volume.SourceDevice);
    if (!IsVolumeGuidRoot(source)) {
        return WriteChecked(volume.MountPoint / name, volume.FileSystemId, true, bytes);
    }
    FileWriteResult written =
        WriteChecked(std::filesystem::path(source) / name, volume.FileSystemId, true, bytes);
    // The volume's own root no longer exists: it went away, whatever now has its letter.
    if (!written.Ok() && written.FailedAt == FileWriteStep::Open &&
        written.Error != FileWriteError::NotTheListedVolume &&
        ::GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
        written.Error = FileWriteError::NotTheListedVolume;
    }
    return written;
}

FileWriteResult CWinFileWriter::WriteChecked(const std::filesystem::path& path,
                                             std::optional<std::uint64_t> volumeSerial,
                                             bool removeWhenBroken,
                                             std::span<const std::uint8_t> bytes) {
    // DELETE as well: a broken copy is removed through this very handle.
    const DWORD access = GENERIC_WRITE | (removeWhenBroken ? DELETE : 0);
    UniqueHandle file =
        AdoptHandle(::CreateFileW(path.c_str(), access, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && IsFolder(path)) {
            return NotARegularFile();
        }
        return Failure(FileWriteStep::Open, error, 0);
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    // A file this call made is removed again on every way out below but success; one that was
    // there already only once its content is gone.
    CRemoveUnlessKept removal(file.get(), removeWhenBroken && !existed);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsRegularFile(file.get(), information)) {
        return NotARegularFile();
    }
    if (volumeSerial && information.dwVolumeSerialNumber != *volumeSerial) {
        return FileWriteResult{FileWriteError::NotTheListedVolume, FileWriteStep::Open, 0,
                               "the file is on a volume with another serial number"};
    }
    if (!::SetEndOfFile(file.get())) {  // the position is still 0 after the open
        // An earlier file of this name is still whole: failed as an open, so that it is left
        // in place. One just made is empty, and goes like any partial file.
        return Failure(existed ? FileWriteStep::Open : FileWriteStep::Write, ::GetLastError(), 0);
    }
    removal.Arm(removeWhenBroken);
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
    removal.Keep();
    // CloseHandle releases the handle even when it reports a failure, so it is never closed
    // twice; such a failure still means the copy failed. The content was flushed whole by
    // then, and without the handle nothing can be removed safely.
    if (!::CloseHandle(file.release())) {
        return Failure(FileWriteStep::Close, ::GetLastError(), written);
    }
    return FileWriteResult{FileWriteError::None, FileWriteStep::Close, written, {}};
}

}  // namespace tarvex
