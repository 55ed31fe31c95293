// CNoticeSignal on POSIX: a non-blocking pipe holding one byte while the flag is raised.

#include "platform/NoticeSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/PollWait.h"

namespace tarvex {

namespace {
int ReadEnd(const std::intptr_t (&native)[2]) {
    return static_cast<int>(native[0]);
}
int WriteEnd(const std::intptr_t (&native)[2]) {
    return static_cast<int>(native[1]);
}
}  // namespace

CNoticeSignal::CNoticeSignal() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_Native[0] = fds[0];
        m_Native[1] = fds[1];
    }
}

CNoticeSignal::~CNoticeSignal() {
    for (const std::intptr_t fd : m_Native) {
        if (fd >= 0) {
            ::close(static_cast<int>(fd));
        }
    }
}

bool CNoticeSignal::Valid() const {
    return ReadEnd(m_Native) >= 0;
}

void CNoticeSignal::Raise() {
    if (m_bRaised || !Valid()) {
        return;
    }
    m_bRaised = true;
    const char wake = 1;
    // One byte marks "raised"; the pipe cannot be full with a single byte in it.
    [[maybe_unused]] const auto written = ::write(WriteEnd(m_Native), &wake, 1);
}

void CNoticeSignal::Clear() {
    if (!m_bRaised) {
        return;
    }
    m_bRaised = false;
    char drained = 0;
    while (::read(ReadEnd(m_Native), &drained, 1) == 1) {
    }
}

NoticeWait CNoticeSignal::Wait(std::chrono::milliseconds timeout) const {
    return WaitUntilReadable(ReadEnd(m_Native), timeout);
}

int CNoticeSignal::Fd() const {
    return ReadEnd(m_Native);
}

}  // namespace tarvex
