#include "platform/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarvex {

CReadableFile::CReadableFile(const std::filesystem::path& path) {
    // O_NONBLOCK: a pipe without a writer would keep the open waiting. O_NOCTTY: a terminal named
    // here must not become the program's controlling terminal.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_Error = std::error_code(errno, std::generic_category());
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        m_Error = std::error_code(errno, std::generic_category());
        ::close(fd);
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        m_bNotRegularFile = true;
        ::close(fd);
        return;
    }
    // A regular file reads the same with or without it; cleared all the same, so that reads
    // mean what they say.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    m_Handle = fd;
    m_Size = static_cast<std::uint64_t>(status.st_size);
}

CReadableFile::~CReadableFile() {
    if (IsOpen()) {
        ::close(static_cast<int>(m_Handle));
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
        const ssize_t count =
            ::read(static_cast<int>(m_Handle), into.data() + done, into.size() - done);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::error_code(errno, std::generic_category());
            break;
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    return done;
}

}  // namespace tarvex
