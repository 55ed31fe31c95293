#include "platform/FileAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvex {

std::error_code OpenForReadingError(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::error_code(errno, std::generic_category());
    }
    ::close(fd);
    return {};
}

}  // namespace tarvex
