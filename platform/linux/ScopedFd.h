#pragma once
// A file descriptor that closes itself: the one owner of a descriptor the device side opens.

#include <unistd.h>

#include <utility>

namespace tarvex {

class CScopedFd {
public:
    CScopedFd() = default;
    explicit CScopedFd(int fd) : m_Fd(fd) {}
    ~CScopedFd() { Reset(); }
    CScopedFd(CScopedFd&& other) noexcept : m_Fd(std::exchange(other.m_Fd, -1)) {}
    CScopedFd& operator=(CScopedFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_Fd, -1));
        }
        return *this;
    }
    CScopedFd(const CScopedFd&) = delete;
    CScopedFd& operator=(const CScopedFd&) = delete;

    int Get() const { return m_Fd; }
    bool Valid() const { return m_Fd >= 0; }
    void Reset(int fd = -1) {
        if (m_Fd >= 0) {
            ::close(m_Fd);
        }
        m_Fd = fd;
    }

private:
    int m_Fd = -1;
};

}  // namespace tarvex
