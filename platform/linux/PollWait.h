#pragma once
// Waiting for a descriptor to become readable, in the terms of a notice wait.

#include <chrono>

#include "platform/DeviceNoticeSource.h"

namespace tarvex {

// poll(2) for POLLIN on `fd` for at most `timeout`: Waiting when readable (or hung up, or in
// error, which the next read reports), TimedOut when the time passed or a signal interrupted the
// wait (the caller looks at its stop flag and waits again), Unavailable when `fd` is -1 or poll
// fails otherwise.
NoticeWait WaitUntilReadable(int fd, std::chrono::milliseconds timeout);

}  // namespace tarvex
