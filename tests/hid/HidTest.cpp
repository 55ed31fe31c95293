// CHid over the virtual HID port: the search for the update device, report framing on the read
// side, and what reads and writes say once the device is gone.

#include <gtest/gtest.h>

#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "hid/ReportSenders.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

struct HidFixture : ::testing::Test {
    std::shared_ptr<sim::CVirtualUpdateDevice> device =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    CHid hid{port, usb};
};

TEST_F(HidFixture, SearchKeepsTheFirstAcceptedInterfaceAndPublishesTheModeOnce) {
    // Nothing present: the search fails and the mode stays as it was.
    EXPECT_FALSE(hid.DetectDevice());
    EXPECT_EQ(hid.DeviceMode(), kDeviceModeNone);

    // Only foreign interfaces: each one examined says "foreign".
    port.AddForeignInterface(0x046D, 0xC52B, /*first=*/true);
    EXPECT_FALSE(hid.DetectDevice());
    EXPECT_EQ(hid.DeviceMode(), kDeviceModeForeign);
    EXPECT_FALSE(hid.DevicePresent());

    // The update device after a foreign one: found, and the mode ends "ready".
    port.AttachUpdateDevice(device);
    port.AddForeignInterface(0x3A7E, 0x6A12, /*first=*/false);
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_EQ(hid.DeviceMode(), kDeviceModeReady);
    EXPECT_TRUE(hid.DevicePresent());
    EXPECT_EQ(hid.DevicePath(), sim::kVirtualUpdateDevicePath);
}

TEST_F(HidFixture, DriveModeWinsWithoutAnHidSearch) {
    port.AttachUpdateDevice(device);
    usb.AddDevice(kTargetVendorId, 0x6A03);
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_TRUE(hid.DriveModePresent());
    EXPECT_EQ(hid.DeviceMode(), kDeviceModeReady);
    EXPECT_FALSE(hid.DevicePresent()) << "no HID search was made";

    usb.RemoveDevice(kTargetVendorId, 0x6A03);
    usb.AddDevice(0x1234, 0x6A03);  // right product, wrong vendor
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_FALSE(hid.DriveModePresent());
    EXPECT_TRUE(hid.DevicePresent());
}

TEST_F(HidFixture, AnUpdateDeviceThatWillNotOpenIsSkippedButRemembered) {
    port.AttachUpdateDevice(device);
    port.SetOpenError(HidOpenError::PermissionDenied);
    EXPECT_FALSE(hid.DetectDevice());
    EXPECT_EQ(hid.UpdateDeviceOpenError(), HidOpenError::PermissionDenied);

    port.SetOpenError(HidOpenError::None);
    EXPECT_TRUE(hid.DetectDevice());
    EXPECT_EQ(hid.UpdateDeviceOpenError(), HidOpenError::None);
}

TEST_F(HidFixture, ReadDeliversReportBytesOneToSixtyThree) {
    std::array<std::uint8_t, kHidReportSize> buffer{};
    EXPECT_EQ(hid.ReadReport(buffer), HidIoStatus::NoHandle) << "not opened yet";

    port.AttachUpdateDevice(device);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(hid.OpenDevice());
    EXPECT_EQ(hid.ReadTimeout(), kReadTimeoutAfterOpen);

    HidReport injected{};
    for (std::size_t i = 0; i < injected.size(); ++i) {
        injected[i] = static_cast<std::uint8_t>(i + 1);
    }
    device->InjectInputReport(injected);
    buffer.fill(0xEE);
    ASSERT_EQ(hid.ReadReport(buffer), HidIoStatus::Ok);
    for (std::size_t i = 0; i + 1 < kHidReportSize; ++i) {
        ASSERT_EQ(buffer[i], injected[i + 1]) << "index " << i;
    }

    hid.SetReadTimeout(std::chrono::milliseconds(1));
    EXPECT_EQ(hid.ReadReport(buffer), HidIoStatus::TimedOut);
}

TEST_F(HidFixture, AGoneDeviceIsToldApartFromASilentOne) {
    port.AttachUpdateDevice(device);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(hid.OpenDevice());
    device->Unplug();
    std::array<std::uint8_t, kHidReportSize> buffer{};
    EXPECT_EQ(hid.ReadReport(buffer), HidIoStatus::DeviceGone);
    EXPECT_EQ(SendRequest(hid, kRequestPoll, 0), HidIoStatus::DeviceGone);

    // Plugged in again, the old connection stays dead until the device is opened anew.
    device->Plug();
    EXPECT_EQ(SendRequest(hid, kRequestPoll, 0), HidIoStatus::DeviceGone);
    ASSERT_TRUE(hid.OpenDevice());
    EXPECT_EQ(SendRequest(hid, kRequestPoll, 0), HidIoStatus::Ok);
}

TEST_F(HidFixture, NothingMovesWhileNoUpdateReadyDeviceIsKnown) {
    port.AttachUpdateDevice(device);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(hid.OpenDevice());
    device->Unplug();
    port.AddForeignInterface(0x046D, 0xC52B);
    EXPECT_FALSE(hid.DetectDevice());
    ASSERT_EQ(hid.DeviceMode(), kDeviceModeForeign);
    device->Plug();  // back, but detection has not seen it yet
    ASSERT_TRUE(hid.OpenDevice());
    const auto before = device->Record().size();
    EXPECT_NE(SendRequest(hid, kRequestPoll, 0), HidIoStatus::Ok);
    EXPECT_EQ(device->Record().size(), before);
}

}  // namespace
}  // namespace tarvex
