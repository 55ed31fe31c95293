#pragma once
// The Windows error codes (GetLastError) that the backends meet, mapped once into the terms the
// engine acts on. Read GetLastError right after the failing call, on that thread.

#include <cstdint>
#include <string>

#include "platform/FileWriter.h"
#include "platform/HidPort.h"

namespace tarvex {

HidOpenError HidOpenErrorFromWin32(std::uint32_t error);

// A read or write on an open interface that failed. The codes of an interface whose device is
// gone (unplugged, its driver stopped, the other end of the handle closed) give DeviceGone.
HidIoStatus HidIoStatusFromWin32(std::uint32_t error);

FileWriteError FileWriteErrorFromWin32(std::uint32_t error);

// The system's own words for `error`, in UTF-8, for traces.
std::string Win32ErrorText(std::uint32_t error);

}  // namespace tarvex
