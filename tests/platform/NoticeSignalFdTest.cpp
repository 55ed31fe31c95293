// On Linux the notice signal is a descriptor that an event loop polls like the udev monitor's.

#include <gtest/gtest.h>
#include <poll.h>

#include "platform/NoticeSignal.h"

namespace tarvex {
namespace {

bool Readable(const CNoticeSignal& signal) {
    pollfd waiting{signal.Fd(), POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN) != 0;
}

TEST(NoticeSignalFd, PollsReadableExactlyWhileRaised) {
    CNoticeSignal signal;
    ASSERT_GE(signal.Fd(), 0);
    EXPECT_FALSE(Readable(signal));
    signal.Raise();
    signal.Raise();
    EXPECT_TRUE(Readable(signal));
    signal.Clear();
    EXPECT_FALSE(Readable(signal)) << "every byte of the raises is drained";
}

}  // namespace
}  // namespace tarvex
