#include "platform/linux/PollWait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace tarvex {

NoticeWait WaitUntilReadable(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        return NoticeWait::Unavailable;
    }
    const int waitMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 0, std::numeric_limits<int>::max()));
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, waitMs);
    if (polled < 0) {
        return errno == EINTR ? NoticeWait::TimedOut : NoticeWait::Unavailable;
    }
    // A hang-up or error counts as readable too: the read that follows reports it.
    return polled > 0 ? NoticeWait::Waiting : NoticeWait::TimedOut;
}

}  // namespace tarvex
