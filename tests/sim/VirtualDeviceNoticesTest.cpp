// The virtual notice source: the order and registration rule of the real monitor, and a wait
// that wakes exactly while notices wait.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "sim/VirtualDeviceNotices.h"

namespace tarvex::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

bool Readable(CVirtualDeviceNotices& notices, int timeoutMs) {
    return notices.WaitForNotices(std::chrono::milliseconds(timeoutMs)) == NoticeWait::Waiting;
}

TEST(VirtualDeviceNotices, RaisesWhatTheSystemWouldInItsOrder) {
    CVirtualDeviceNotices notices;
    notices.HidDevicePlugged();
    notices.HidDeviceUnplugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(7U))
        << "unregistered: no interface notices, and one tree change per batch";

    ASSERT_TRUE(notices.RegisterHidNotices());
    notices.HidDevicePlugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(7U, 0x8000U));
    notices.HidDeviceUnplugged();
    notices.UsbDeviceChanged();
    notices.Raise(0x0018);
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(0x8004U, 7U, 0x0018U))
        << "a tree change right behind another one is the same news";
    EXPECT_THAT(notices.TakeNotices(), IsEmpty());
}

TEST(VirtualDeviceNotices, TheWaitWakesExactlyWhileNoticesWait) {
    CVirtualDeviceNotices notices;
    EXPECT_FALSE(Readable(notices, 0));
    notices.UsbDeviceChanged();
    notices.Raise(0x8000);
    EXPECT_TRUE(Readable(notices, 0));
    EXPECT_EQ(notices.TakeNotices().size(), 2U);
    EXPECT_FALSE(Readable(notices, 0));

    // A notice raised on another thread wakes a waiting event loop.
    std::thread raiser([&] { notices.Raise(0x8004); });
    EXPECT_TRUE(Readable(notices, 20000));
    raiser.join();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(0x8004U));
    EXPECT_FALSE(Readable(notices, 0));
}

}  // namespace
}  // namespace tarvex::sim
