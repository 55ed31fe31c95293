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

}  // namespace

std::error_code OpenForReadingError(const std::filesystem::path& path) {
    // Sharing as the engine reads it later: another program may have the image open.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::make_error_code(ErrcFromWin32(::GetLastError()));
    }
    ::CloseHandle(file);
    return {};
}

}  // namespace tarvex
