#pragma once
// Whether this user may read a file, asked the only reliable way: by opening it.
// Linux: platform/linux/FileAccess.cpp; Windows: platform/windows/FileAccess.cpp.

#include <filesystem>
#include <system_error>

namespace tarvex {

// Opens `path` for reading and closes it again. The system's error in the generic category
// (errno values, so that std::errc compares), or none when the open succeeded.
std::error_code OpenForReadingError(const std::filesystem::path& path);

}  // namespace tarvex
