// The sleep block from logind, against a private bus with a stand-in for logind that records
// each Inhibit call and sees when the lock's descriptor is closed.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/LogindSleepInhibitor.h"
#include "tests/platform/LogindStandIn.h"

namespace tarvex {
namespace {

using testing::CChildProcess;
using testing::CLogindStandIn;
using testing::LoginServiceMode;

constexpr const char* kWho = "Tarvex Update";
constexpr const char* kWhy = "Updating the firmware of a device";

TEST(LogindSleepInhibitor, BlocksSleepIdleAndTheLidSwitchUntilTheBlockIsDestroyed) {
    CLogindStandIn logind;
    ASSERT_EQ(logind.Problem(), "");
    CLogindSleepInhibitor inhibitor(logind.BusAddress());

    SleepBlockResult result = inhibitor.BlockSleep(kWho, kWhy);
    ASSERT_TRUE(result.Held()) << ToString(result.Error) << ": " << result.Message;
    EXPECT_EQ(logind.NextEvent(), "inhibit 1 sleep:idle:handle-lid-switch|Tarvex Update|" +
                                      std::string(kWhy) + "|block");
    // The connection that asked is closed by now; the descriptor alone keeps the lock.
    EXPECT_EQ(logind.NextEvent(std::chrono::milliseconds(300)), CLogindStandIn::kNoEvent)
        << "the lock ended while the block was held";

    result.Block.reset();
    EXPECT_EQ(logind.NextEvent(), "released 1");
}

TEST(LogindSleepInhibitor, AProgramStartedDuringTheBlockDoesNotKeepItAlive) {
    CLogindStandIn logind;
    ASSERT_EQ(logind.Problem(), "");
    CLogindSleepInhibitor inhibitor(logind.BusAddress());
    SleepBlockResult result = inhibitor.BlockSleep(kWho, kWhy);
    ASSERT_TRUE(result.Held()) << result.Message;
    ASSERT_EQ(logind.NextEvent().rfind("inhibit 1 ", 0), 0u);

    CChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({"/bin/sleep", "30"}, error)) << error;
    result.Block.reset();
    EXPECT_EQ(logind.NextEvent(), "released 1") << "the child inherited the lock's descriptor";
}

TEST(LogindSleepInhibitor, TwoBlocksAreTwoLocks) {
    CLogindStandIn logind;
    ASSERT_EQ(logind.Problem(), "");
    CLogindSleepInhibitor inhibitor(logind.BusAddress());
    SleepBlockResult first = inhibitor.BlockSleep(kWho, "first");
    SleepBlockResult second = inhibitor.BlockSleep(kWho, "second");
    ASSERT_TRUE(first.Held() && second.Held());
    EXPECT_EQ(logind.NextEvent(),
              "inhibit 1 sleep:idle:handle-lid-switch|Tarvex Update|first|block");
    EXPECT_EQ(logind.NextEvent(),
              "inhibit 2 sleep:idle:handle-lid-switch|Tarvex Update|second|block");
    second.Block.reset();
    EXPECT_EQ(logind.NextEvent(), "released 2");
    first.Block.reset();
    EXPECT_EQ(logind.NextEvent(), "released 1");
}

struct FailureCase {
    const char* Name;
    LoginServiceMode Mode;
    SleepBlockError Expected;
};

class LogindSleepInhibitorFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LogindSleepInhibitorFailure, NoBlockAndTheReason) {
    CLogindStandIn logind(GetParam().Mode);
    ASSERT_EQ(logind.Problem(), "");
    CLogindSleepInhibitor inhibitor(logind.BusAddress(), std::chrono::milliseconds(300));

    const auto started = std::chrono::steady_clock::now();
    const SleepBlockResult result = inhibitor.BlockSleep(kWho, kWhy);
    EXPECT_FALSE(result.Held());
    EXPECT_EQ(result.Error, GetParam().Expected)
        << ToString(result.Error) << ": " << result.Message;
    EXPECT_FALSE(result.Message.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogindSleepInhibitorFailure,
    ::testing::Values(FailureCase{"NoLoginService", LoginServiceMode::Missing,
                                  SleepBlockError::NoService},
                      FailureCase{"Refused", LoginServiceMode::Refuse, SleepBlockError::Refused},
                      FailureCase{"NoAnswer", LoginServiceMode::Silent, SleepBlockError::NoAnswer}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST(LogindSleepInhibitor, NoSystemBusAtAll) {
    // The system bus as a program finds it: here, a socket that does not exist.
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tarvex/bus", 1), 0);
    CLogindSleepInhibitor inhibitor;
    const SleepBlockResult result = inhibitor.BlockSleep(kWho, kWhy);
    EXPECT_FALSE(result.Held());
    EXPECT_EQ(result.Error, SleepBlockError::NoSystemBus) << result.Message;
}

}  // namespace
}  // namespace tarvex
