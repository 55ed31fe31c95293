#pragma once
// A flag that a waiting thread or an event loop can wait on: raised while something waits to be
// taken, cleared once it was taken. Notice sources that collect their notices themselves (the
// virtual source, the Windows one) raise it when the first notice of a batch comes and clear it
// in TakeNotices.
//
// On POSIX it is a pipe whose read end polls readable while the flag is raised, so that an event
// loop can watch it like any descriptor; on Windows it is a manual-reset event.
//
// Threads: every member may be called from any thread. Callers serialise Raise and Clear with
// what the flag stands for (under the lock that guards their queue), so that a Clear never
// overtakes the Raise of a notice it did not take.

#include <chrono>
#include <cstdint>

#include "platform/DeviceNoticeSource.h"

namespace tarvex {

class CNoticeSignal {
public:
    CNoticeSignal();
    ~CNoticeSignal();
    CNoticeSignal(const CNoticeSignal&) = delete;
    CNoticeSignal& operator=(const CNoticeSignal&) = delete;

    // False when the system would not give the pipe or event; then Wait is Unavailable.
    bool Valid() const;

    // Raising a raised flag, or clearing a cleared one, changes nothing.
    void Raise();
    void Clear();

    // Waiting when the flag is raised, at the latest after `timeout`.
    NoticeWait Wait(std::chrono::milliseconds timeout) const;

    // POSIX: the descriptor that polls readable while the flag is raised. -1 on Windows, and
    // when not Valid.
    int Fd() const;

private:
    bool m_bRaised = false;
    // The pipe's read and write ends on POSIX; the event handle in the first on Windows.
    std::intptr_t m_Native[2] = {-1, -1};
};

}  // namespace tarvex
