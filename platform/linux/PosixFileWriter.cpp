#include "platform/linux/PosixFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tarvex {

namespace {

// Closes the descriptor on every early way out; the successful path closes it itself, because
// close can report a failed write-back that the caller must hear about.
class CCloseOnExit {
public:
    CCloseOnExit(CPosixFileCalls& calls, int fd) : m_Calls(calls), m_Fd(fd) {}
    ~CCloseOnExit() {
        if (m_Fd >= 0) {
            m_Calls.Close(m_Fd);
        }
    }
    CCloseOnExit(const CCloseOnExit&) = delete;
    CCloseOnExit& operator=(const CCloseOnExit&) = delete;

    int Release() { return std::exchange(m_Fd, -1); }

private:
    CPosixFileCalls& m_Calls;
    int m_Fd;
};

FileWriteResult Failure(FileWriteStep step, int error, std::uint64_t written) {
    return FileWriteResult{FileWriteErrorFromErrno(error), step, written, std::strerror(error)};
}

FileWriteResult NotRegularFile(const char* what) {
    return FileWriteResult{FileWriteError::NotRegularFile, FileWriteStep::Open, 0, what};
}

FileWriteResult NotTheListedVolume(const char* what) {
    return FileWriteResult{FileWriteError::NotTheListedVolume, FileWriteStep::Open, 0, what};
}

const char* NonRegularKind(mode_t mode) {
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "a device node";
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

FileWriteResult CPosixFileWriter::OpenFailure(const std::filesystem::path& path, int error) {
    // The open says ELOOP for a link, ENXIO for a pipe nobody reads, EISDIR for a folder; what
    // the name really is tells all of them apart from a plain refusal.
    struct stat status {};
    if (m_Calls.Lstat(path.c_str(), status) == 0 && !S_ISREG(status.st_mode)) {
        return NotRegularFile(NonRegularKind(status.st_mode));
    }
    return Failure(FileWriteStep::Open, error, 0);
}

FileWriteResult CPosixFileWriter::OpenFailureAt(int dirFd, const std::filesystem::path& name,
                                                int error) {
    struct stat status {};
    if (m_Calls.LstatAt(dirFd, name.c_str(), status) == 0 && !S_ISREG(status.st_mode)) {
        return NotRegularFile(NonRegularKind(status.st_mode));
    }
    return Failure(FileWriteStep::Open, error, 0);
}

// O_NOFOLLOW: a link of this name would send the bytes wherever it points. O_NONBLOCK: a pipe of
// this name would keep the open waiting for a reader, past any Ctrl-C. Neither changes how a
// regular file is written. No O_TRUNC: nothing is emptied before it is known to be a regular
// file.
constexpr int kOpenForWriting = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0644;

FileWriteResult CPosixFileWriter::WriteWholeFile(const std::filesystem::path& path,
                                                 std::span<const std::uint8_t> bytes) {
    const int fd = m_Calls.Open(path.c_str(), kOpenForWriting, kNewFileMode);
    if (fd < 0) {
        return OpenFailure(path, errno);
    }
    return WriteOpenedFile(fd, std::nullopt, bytes);
}

FileWriteResult CPosixFileWriter::WriteFileOnVolume(const VolumeInfo& volume,
                                                    const std::filesystem::path& name,
                                                    std::span<const std::uint8_t> bytes) {
    if (!volume.FileSystemId) {
        return CFileWriter::WriteFileOnVolume(volume, name, bytes);
    }
    // The folder, once open, stays the folder it was when it was opened, whatever is mounted or
    // unmounted on its path afterwards; a mount point left behind by an unmount, or hidden by a
    // later mount, shows another st_dev here than the volume had in the mount table.
    const int dirFd =
        m_Calls.Open(volume.MountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirFd < 0) {
        return Failure(FileWriteStep::Open, errno, 0);
    }
    CCloseOnExit folder(m_Calls, dirFd);
    struct stat folderStatus {};
    if (m_Calls.Fstat(dirFd, folderStatus) != 0) {
        return Failure(FileWriteStep::Open, errno, 0);
    }
    if (static_cast<std::uint64_t>(folderStatus.st_dev) != *volume.FileSystemId) {
        return NotTheListedVolume("the folder is on another file system");
    }
    const int fd = m_Calls.OpenAt(dirFd, name.c_str(), kOpenForWriting, kNewFileMode);
    if (fd < 0) {
        return OpenFailureAt(dirFd, name, errno);
    }
    return WriteOpenedFile(fd, volume.FileSystemId, bytes, dirFd, name.c_str());
}

void CPosixFileWriter::RemoveBrokenFile(int dirFd, const char* name, const struct stat& file) {
    // Only while the name in the checked folder still is the file that was written.
    struct stat named {};
    if (m_Calls.LstatAt(dirFd, name, named) == 0 && named.st_dev == file.st_dev &&
        named.st_ino == file.st_ino) {
        m_Calls.UnlinkAt(dirFd, name);
    }
}

FileWriteResult CPosixFileWriter::WriteOpenedFile(int fd, std::optional<std::uint64_t> fileSystemId,
                                                  std::span<const std::uint8_t> bytes, int dirFd,
                                                  const char* name) {
    CCloseOnExit file(m_Calls, fd);
    struct stat status {};
    if (m_Calls.Fstat(fd, status) != 0) {
        return Failure(FileWriteStep::Open, errno, 0);
    }
    if (!S_ISREG(status.st_mode)) {
        return NotRegularFile(NonRegularKind(status.st_mode));
    }
    // A name on the volume's folder can still lead elsewhere: a folder mounted over the file's
    // own name. Nothing has been emptied or written yet.
    if (fileSystemId && static_cast<std::uint64_t>(status.st_dev) != *fileSystemId) {
        return NotTheListedVolume("the file is on another file system");
    }
    // Up to here an earlier file of this name is as it was.
    if (m_Calls.TruncateToEmpty(fd) != 0) {
        return Failure(FileWriteStep::Open, errno, 0);
    }
    const auto broken = [&](FileWriteResult result) {
        if (dirFd >= 0) {
            RemoveBrokenFile(dirFd, name, status);
        }
        return result;
    };
    const WriteAllResult written = WriteAllBytes(
        bytes,
        [&](const std::uint8_t* data, std::size_t size) { return m_Calls.Write(fd, data, size); });
    if (written.Errno != 0) {
        return broken(Failure(FileWriteStep::Write, written.Errno, written.Written));
    }
    int flushed = 0;
    do {
        flushed = m_Calls.Fsync(fd);
    } while (flushed != 0 && errno == EINTR);
    if (flushed != 0) {
        return broken(Failure(FileWriteStep::Flush, errno, written.Written));
    }
    // Linux releases the descriptor even when close fails, so it is never closed twice; a
    // failure here (an error of the write-back, reported late) still means the copy failed.
    if (m_Calls.Close(file.Release()) != 0) {
        return broken(Failure(FileWriteStep::Close, errno, written.Written));
    }
    return FileWriteResult{FileWriteError::None, FileWriteStep::Close, written.Written, {}};
}

}  // namespace tarvex
