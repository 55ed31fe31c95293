// CHid registers for HID arrival and removal notices the first time a detection reaches the
// HID search, and only then; the registration is attempted once and withdrawn on destruction.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "sim/VirtualDeviceNotices.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;

struct RegistrationFixture : ::testing::Test {
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    sim::CVirtualDeviceNotices notices;
};

TEST_F(RegistrationFixture, TheFirstSearchRegistersEvenWhenItFindsNothing) {
    CHid hid(port, usb, &notices);
    notices.HidDevicePlugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(kDeviceNodesChanged))
        << "before any detection only the tree changes reach the window";

    EXPECT_FALSE(hid.DetectDevice());
    EXPECT_TRUE(hid.NotifyRegistered());
    EXPECT_EQ(notices.RegistrationAttempts(), 1U);
    notices.HidDevicePlugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(kDeviceNodesChanged, kDeviceArrival));

    port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_EQ(notices.RegistrationAttempts(), 1U) << "later detections do not register again";
}

TEST_F(RegistrationFixture, ADetectionThatFindsDriveModeMakesNoSearchAndNoRegistration) {
    CHid hid(port, usb, &notices);
    usb.AddDevice(kTargetVendorId, 0x6A02);
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_FALSE(hid.NotifyRegistered());
    EXPECT_EQ(notices.RegistrationAttempts(), 0U);

    usb.RemoveDevice(kTargetVendorId, 0x6A02);
    EXPECT_FALSE(hid.DetectDevice());
    EXPECT_EQ(notices.RegistrationAttempts(), 1U);
}

TEST_F(RegistrationFixture, ARefusedRegistrationIsNotRetried) {
    notices.RefuseRegistration(true);
    CHid hid(port, usb, &notices);
    hid.DetectDevice();
    hid.DetectDevice();
    EXPECT_TRUE(hid.NotifyRegistered());
    EXPECT_EQ(notices.RegistrationAttempts(), 1U);
    EXPECT_FALSE(notices.HidNoticesRegistered());
    notices.HidDevicePlugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(kDeviceNodesChanged));
}

TEST_F(RegistrationFixture, DestructionWithdrawsTheRegistration) {
    {
        CHid hid(port, usb, &notices);
        hid.DetectDevice();
        ASSERT_TRUE(notices.HidNoticesRegistered());
    }
    EXPECT_FALSE(notices.HidNoticesRegistered());
    notices.HidDeviceUnplugged();
    EXPECT_THAT(notices.TakeNotices(), ElementsAre(kDeviceNodesChanged));
}

TEST_F(RegistrationFixture, WithoutANoticeSourceDetectionStillWorks) {
    port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
    CHid hid(port, usb);
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_TRUE(hid.NotifyRegistered()) << "attempted, with nobody to register with";
}

}  // namespace
}  // namespace tarvex
