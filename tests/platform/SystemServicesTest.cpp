// The Linux factory hands out every service, the real backends behind them.

#include <gtest/gtest.h>

#include "platform/SystemServices.h"

namespace tarvex {
namespace {

TEST(SystemServices, EveryServiceIsThere) {
    const SystemServices services = CreateSystemServices();
    ASSERT_TRUE(services.HidPort);
    ASSERT_TRUE(services.UsbDevices);
    ASSERT_TRUE(services.DeviceNotices);
    EXPECT_GE(services.DeviceNotices->NoticeFd(), 0);
    // Nothing is open before anyone asks: listing works straight away.
    for (const auto& info : services.HidPort->ListHidInterfaces()) {
        EXPECT_FALSE(info.Path.empty());
    }
}

}  // namespace
}  // namespace tarvex
