#include "platform/FileAccess.h"

#include <windows.h>

namespace tarvex {

namespace {

std::errc ErrcFromWin32(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return std::errc::no_such_file_or_directory;
        case ERROR_ACCESS_DENIED:
            return std::errc::permission_denied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::errc::device_or_resource_busy;
        case ERROR_DIRECTORY:
            return std::errc::not_a_directory;
        default:
            return std::errc::io_error;
    }
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

CReadableFile::CReadableFile(const std::filesystem::path& path) {
    // Sharing as other programs expect: one may have the image open. A folder does not open
    // without backup semantics (access denied); a pipe or a device opens without waiting, and
    // its type tells it apart below.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A folder refuses the open as if it were closed to this user.
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            m_bNotRegularFile = true;
            return;
        }
        m_Error = std::make_error_code(ErrcFromWin32(error));
        return;
    }
    // A device (NUL, CON, COM1: character devices that report a size of 0) or a pipe is no
    // file on a disk.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        m_bNotRegularFile = true;
        ::CloseHandle(file);
        return;
    }
    m_Handle = reinterpret_cast<std::intptr_t>(file);
    m_Size = static_cast<std::uint64_t>(size.QuadPart);
}

CReadableFile::~CReadableFile() {
    if (IsOpen()) {
        ::CloseHandle(AsHandle(m_Handle));
    }
}

std::size_t CReadableFile::Read(std::span<std::uint8_t> into, std::error_code& error) {
    error.clear();
    if (!IsOpen()) {
        error = std::make_error_code(std::errc::bad_file_descriptor);
        return 0;
    }
    std::size_t done = 0;
    while (done < into.size()) {
        constexpr std::size_t kMostPerCall = 1U << 30;
        const std::size_t rest = into.size() - done;
        const DWORD asked = static_cast<DWORD>(rest < kMostPerCall ? rest : kMostPerCall);
        DWORD got = 0;
        if (!::ReadFile(AsHandle(m_Handle), into.data() + done, asked, &got, nullptr)) {
            error = std::make_error_code(ErrcFromWin32(::GetLastError()));
            break;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

}  // namespace tarvex
