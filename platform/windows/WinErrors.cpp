#include "platform/windows/WinErrors.h"

#include <windows.h>

#include "platform/windows/Utf16Text.h"

namespace tarvex {

HidOpenError HidOpenErrorFromWin32(std::uint32_t error) {
    switch (error) {
        case ERROR_SUCCESS:
            return HidOpenError::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return HidOpenError::NotFound;
        case ERROR_ACCESS_DENIED:
            return HidOpenError::PermissionDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
        case ERROR_PIPE_BUSY:
            return HidOpenError::Busy;
        default:
            return HidOpenError::Other;
    }
}

HidIoStatus HidIoStatusFromWin32(std::uint32_t error) {
    switch (error) {
        case ERROR_SUCCESS:
            return HidIoStatus::Ok;
        case ERROR_DEVICE_NOT_CONNECTED:  // the usual code of an unplugged HID device
        case ERROR_DEV_NOT_EXIST:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_BAD_COMMAND:  // the driver stopped under the handle
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_OPERATION_ABORTED:  // not our cancel: the handle was torn down
        case ERROR_BROKEN_PIPE:        // the other end of the handle went away
        case ERROR_PIPE_NOT_CONNECTED:
        case ERROR_NO_DATA:
            return HidIoStatus::DeviceGone;
        default:
            return HidIoStatus::Failed;
    }
}

FileWriteError FileWriteErrorFromWin32(std::uint32_t error) {
    switch (error) {
        case ERROR_SUCCESS:
            return FileWriteError::None;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return FileWriteError::NoSpace;
        case ERROR_WRITE_PROTECT:
            return FileWriteError::ReadOnly;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FileWriteError::PermissionDenied;
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NO_MEDIA_IN_DRIVE:
        case ERROR_FILE_INVALID:  // the volume was changed or removed under the open file
        case ERROR_UNRECOGNIZED_VOLUME:
            return FileWriteError::DeviceGone;
        case ERROR_CRC:
        case ERROR_IO_DEVICE:
        case ERROR_GEN_FAILURE:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_WRITE_FAULT:
            return FileWriteError::IoError;
        default:
            return FileWriteError::Other;
    }
}

std::string Win32ErrorText(std::uint32_t error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length != 0 && text != nullptr ? std::wstring(text, length) : L"";
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    if (message.empty()) {
        return "Windows error " + std::to_string(error);
    }
    return WideToUtf8(message);
}

}  // namespace tarvex
