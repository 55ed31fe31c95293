#pragma once
// The system calls CPosixFileWriter makes, one virtual each, so that a test can see their order
// (the flush before the close, the close before success) or make one of them fail. The base
// class makes the real calls; each behaves like its namesake and sets errno when it fails.
//
// Threads: the real calls keep no state; a test's subclass guards its own.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tarvex {

class CPosixFileCalls {
public:
    virtual ~CPosixFileCalls() = default;

    virtual int Open(const char* path, int flags, mode_t mode);
    virtual int Fstat(int fd, struct stat& status);
    virtual int Lstat(const char* path, struct stat& status);
    // Relative to the open folder `dirFd`: openat(2), and fstatat(2) without following a link.
    virtual int OpenAt(int dirFd, const char* name, int flags, mode_t mode);
    virtual int LstatAt(int dirFd, const char* name, struct stat& status);
    virtual int UnlinkAt(int dirFd, const char* name);  // unlinkat(2) of a file
    virtual int TruncateToEmpty(int fd);                // ftruncate(fd, 0)
    virtual ssize_t Write(int fd, const std::uint8_t* data, std::size_t size);
    virtual int Fsync(int fd);
    virtual int Close(int fd);
};

// The real calls, shared by every writer that is not given others.
CPosixFileCalls& RealPosixFileCalls();

}  // namespace tarvex
