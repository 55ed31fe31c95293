#include "platform/linux/PosixFileCalls.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarvex {

int CPosixFileCalls::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int CPosixFileCalls::Fstat(int fd, struct stat& status) {
    return ::fstat(fd, &status);
}

int CPosixFileCalls::Lstat(const char* path, struct stat& status) {
    return ::lstat(path, &status);
}

int CPosixFileCalls::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
    return ::openat(dirFd, name, flags, mode);
}

int CPosixFileCalls::LstatAt(int dirFd, const char* name, struct stat& status) {
    return ::fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW);
}

int CPosixFileCalls::UnlinkAt(int dirFd, const char* name) {
    return ::unlinkat(dirFd, name, 0);
}

int CPosixFileCalls::TruncateToEmpty(int fd) {
    return ::ftruncate(fd, 0);
}

ssize_t CPosixFileCalls::Write(int fd, const std::uint8_t* data, std::size_t size) {
    return ::write(fd, data, size);
}

int CPosixFileCalls::Fsync(int fd) {
    return ::fsync(fd);
}

int CPosixFileCalls::Close(int fd) {
    return ::close(fd);
}

CPosixFileCalls& RealPosixFileCalls() {
    static CPosixFileCalls calls;
    return calls;
}

}  // namespace tarvex
