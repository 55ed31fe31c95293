// --device on Windows: device paths and instance IDs ignore case there, so a node typed in
// another case than the system lists it still picks that device, and no other.

#include <gtest/gtest.h>

#include "cli/DeviceChoice.h"
#include "platform/DeviceNames.h"

namespace tarvex {
namespace {

TEST(WinDeviceChoice, ANodeMatchesInAnyCaseAndOnlyItself) {
    const std::string node =
        "\\\\?\\hid#vid_3a7e&pid_6a11#7&1d2f3a4b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const std::string usb = "USB\\VID_3A7E&PID_6A01\\0123ABC";
    struct Case {
        std::string Listed;
        std::string Typed;
        bool bSame;
    };
    const Case cases[] = {
        {node, node, true},
        {node,
         "\\\\?\\HID#VID_3A7E&PID_6A11#7&1D2F3A4B&0&0000#{4D1E55B2-F16F-11CF-88CB-001111000030}",
         true},
        {usb, "usb\\vid_3a7e&pid_6a01\\0123abc", true},
        {usb, "USB\\VID_3A7E&PID_6A01\\0123ABD", false},
        {usb, "USB\\VID_3A7E&PID_6A01\\0123AB", false},
        {"\\\\?\\hid#\xC3\xA9", "\\\\?\\HID#\xC3\x89", true},  // é and É: not ASCII alone
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameDeviceName(c.Listed, c.Typed), c.bSame) << c.Listed << " / " << c.Typed;
        EXPECT_EQ(MatchesDeviceChoice(c.Listed, "", c.Typed), c.bSame) << c.Typed;
    }
    // Serial numbers are the device's own bytes and stay exact.
    EXPECT_FALSE(MatchesDeviceChoice(node, "AbC-1", "abc-1"));
    EXPECT_TRUE(MatchesDeviceChoice(node, "AbC-1", "AbC-1"));
}

}  // namespace
}  // namespace tarvex
