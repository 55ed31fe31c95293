#include "platform/linux/PosixFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tarvex {

namespace {

// Closes the descriptor on every early way out; the successful path closes it itself, because
// close can report a failed write-back that the caller must hear about.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : m_Fd(fd) {}
    ~ScopedFd() {
        if (m_Fd >= 0) {
            ::close(m_Fd);
        }
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int Get() const { return m_Fd; }
    int Release() { return std::exchange(m_Fd, -1); }

private:
    int m_Fd;
};

FileWriteResult Failure(FileWriteStep step, int error, std::uint64_t written) {
    return FileWriteResult{FileWriteErrorFromErrno(error), step, written, std::strerror(error)};
}

}  // namespace

FileWriteError FileWriteErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return FileWriteError::None;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileWriteError::NoSpace;
        case EROFS:
            return FileWriteError::ReadOnly;
        case EACCES:
        case EPERM:
            return FileWriteError::PermissionDenied;
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
        case ESHUTDOWN:
            return FileWriteError::DeviceGone;
        case EIO:
            return FileWriteError::IoError;
        default:
            return FileWriteError::Other;
    }
}

WriteAllResult WriteAllBytes(std::span<const std::uint8_t> bytes,
                             const WriteSomeFunction& writeSome) {
    WriteAllResult result;
    while (result.Written < bytes.size()) {
        const auto rest = bytes.subspan(static_cast<std::size_t>(result.Written));
        errno = 0;
        const ssize_t count = writeSome(rest.data(), rest.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.Errno = errno != 0 ? errno : EIO;
            return result;
        }
        if (count == 0) {
            result.Errno = EIO;
            return result;
        }
        result.Written += static_cast<std::uint64_t>(count);
    }
    return result;
}

FileWriteResult CPosixFileWriter::WriteWholeFile(const std::filesystem::path& path,
                                                 std::span<const std::uint8_t> bytes) {
    ScopedFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.Get() < 0) {
        return Failure(FileWriteStep::Open, errno, 0);
    }
    const WriteAllResult written =
        WriteAllBytes(bytes, [fd = file.Get()](const std::uint8_t* data, std::size_t size) {
            return ::write(fd, data, size);
        });
    if (written.Errno != 0) {
        return Failure(FileWriteStep::Write, written.Errno, written.Written);
    }
    int flushed = 0;
    do {
        flushed = ::fsync(file.Get());
    } while (flushed != 0 && errno == EINTR);
    if (flushed != 0) {
        return Failure(FileWriteStep::Flush, errno, written.Written);
    }
    // Linux releases the descriptor even when close fails, so it is never closed twice; a
    // failure here (an error of the write-back, reported late) still means the copy failed.
    if (::close(file.Release()) != 0) {
        return Failure(FileWriteStep::Close, errno, written.Written);
    }
    return FileWriteResult{FileWriteError::None, FileWriteStep::Close, written.Written, {}};
}

}  // namespace tarvex
