// The notice signal the virtual and the Windows notice sources wait on.

#include "platform/NoticeSignal.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarvex {
namespace {

constexpr std::chrono::milliseconds kNow{0};
// Bound for a wait that another thread ends; a guard against hangs, not a measurement.
constexpr std::chrono::milliseconds kHangGuard{20'000};

TEST(NoticeSignal, WakesExactlyWhileRaised) {
    CNoticeSignal signal;
    ASSERT_TRUE(signal.Valid());
    EXPECT_EQ(signal.Wait(kNow), NoticeWait::TimedOut);
    signal.Raise();
    signal.Raise();
    EXPECT_EQ(signal.Wait(kNow), NoticeWait::Waiting);
    EXPECT_EQ(signal.Wait(kNow), NoticeWait::Waiting) << "waiting takes nothing";
    signal.Clear();
    EXPECT_EQ(signal.Wait(kNow), NoticeWait::TimedOut) << "one clear undoes any number of raises";
    signal.Clear();
    signal.Raise();
    EXPECT_EQ(signal.Wait(kNow), NoticeWait::Waiting) << "a clear of a cleared flag is forgotten";
}

TEST(NoticeSignal, ARaiseOnAnotherThreadEndsAWait) {
    CNoticeSignal signal;
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        signal.Raise();
    });
    EXPECT_EQ(signal.Wait(kHangGuard), NoticeWait::Waiting);
    raiser.join();
}

}  // namespace
}  // namespace tarvex
