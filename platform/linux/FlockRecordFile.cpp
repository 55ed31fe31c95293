// The Linux side of platform/RecordFile.h: flock on the lock file, O_APPEND writes with fsync,
// rename for the trim, and the XDG state folder.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/RecordFileCalls.h"
#include "platform/linux/ScopedFd.h"
#include "platform/linux/UserFolders.h"

namespace tarvex {

namespace {

RecordFileResult SystemFailure(RecordFileError error, const std::filesystem::path& path) {
    return {error, path.string() + ": " + std::strerror(errno)};
}

class CFlockHold final : public recordfile::CLockHold {
public:
    explicit CFlockHold(CScopedFd fd) : m_Fd(std::move(fd)) {}
    // Closing the descriptor lets the lock go.

private:
    CScopedFd m_Fd;
};

// Writes all of `bytes`; a short write on a regular file is a full disk, and the rest follows
// in the loop so that a line is never left half.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Opens for writing without waiting on a pipe and without following a final link, and refuses
// anything but a regular file.
RecordFileResult OpenForWriting(const std::filesystem::path& path, int flags, CScopedFd& fd) {
    fd.Reset(::open(path.c_str(), flags | O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        if (errno == ELOOP || errno == ENXIO || errno == EISDIR) {
            return {RecordFileError::NotRegularFile, path.string() + ": not a regular file"};
        }
        return SystemFailure(RecordFileError::CannotOpen, path);
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        return SystemFailure(RecordFileError::CannotOpen, path);
    }
    if (!S_ISREG(status.st_mode)) {
        return {RecordFileError::NotRegularFile, path.string() + ": not a regular file"};
    }
    return {};
}

}  // namespace

namespace recordfile {

std::unique_ptr<CLockHold> LockExclusive(const std::filesystem::path& lockPath,
                                         RecordFileResult& result) {
    CScopedFd fd;
    result = OpenForWriting(lockPath, O_CREAT, fd);
    if (!result.Ok()) {
        result.Error = result.Error == RecordFileError::NotRegularFile
                           ? result.Error
                           : RecordFileError::CannotLock;
        return nullptr;
    }
    const bool bTaken = RetryLock(lockPath, result, [&] {
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
            return LockAttempt::Taken;
        }
        if (errno == EWOULDBLOCK || errno == EINTR) {
            return LockAttempt::Busy;
        }
        result = SystemFailure(RecordFileError::CannotLock, lockPath);
        return LockAttempt::Failed;
    });
    return bTaken ? std::make_unique<CFlockHold>(std::move(fd)) : nullptr;
}

RecordFileResult AppendSynced(const std::filesystem::path& path, std::string_view bytes) {
    CScopedFd fd;
    if (auto opened = OpenForWriting(path, O_CREAT | O_APPEND, fd); !opened.Ok()) {
        return opened;
    }
    if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0) {
        return SystemFailure(RecordFileError::CannotWrite, path);
    }
    return {};
}

RecordFileResult ReplaceSynced(const std::filesystem::path& path,
                               const std::filesystem::path& temporary, std::string_view bytes) {
    CScopedFd fd;
    if (auto opened = OpenForWriting(temporary, O_CREAT | O_TRUNC, fd); !opened.Ok()) {
        return opened;
    }
    if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0) {
        const RecordFileResult failed = SystemFailure(RecordFileError::CannotWrite, temporary);
        ::unlink(temporary.c_str());
        return failed;
    }
    fd.Reset();
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const RecordFileResult failed = SystemFailure(RecordFileError::CannotWrite, path);
        ::unlink(temporary.c_str());
        return failed;
    }
    // The rename itself lasts through a power loss only once the folder is on the disk.
    const CScopedFd folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) {
        ::fsync(folder.Get());
    }
    return {};
}

}  // namespace recordfile

std::filesystem::path UserStateFolder() {
    return UserStateFolder(kProgramCacheSubfolder,
                           [](std::string_view name) -> std::optional<std::string> {
                               const char* value = std::getenv(std::string(name).c_str());
                               if (value == nullptr) {
                                   return std::nullopt;
                               }
                               return std::string(value);
                           });
}

}  // namespace tarvex
