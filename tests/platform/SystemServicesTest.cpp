// The Linux factory hands out every service, the real backends behind them: on a sysfs tree the
// test lays out, its HID port and USB list see exactly the devices of that tree.

#include <gtest/gtest.h>

#include "platform/SystemServices.h"
#include "tests/platform/FakeSysfs.h"

namespace tarvex {
namespace {

using SystemServicesOnATree = testing::FakeSysfsTest;

TEST_F(SystemServicesOnATree, EveryServiceIsThereAndSeesTheMachinesDevices) {
    const auto usb = Sysfs().AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", "3a7e\n", "6a11\n");
    Sysfs().AddHidDevice(Sysfs().AddUsbInterface(usb, 0), 3, 0x3A7E, 0x6A11, 0,
                         testing::kOneCollectionDescriptor);

    const SystemServices services = CreateSystemServices();
    ASSERT_TRUE(services.HidPort);
    ASSERT_TRUE(services.UsbDevices);
    ASSERT_TRUE(services.DeviceNotices);
    EXPECT_GE(services.DeviceNotices->NoticeFd(), 0);
    EXPECT_EQ(testing::DescribeEach(services.HidPort->ListHidInterfaces()),
              std::vector<std::string>{"/dev/hidraw0 3a7e:6a11"});
    EXPECT_EQ(testing::DescribeEach(services.UsbDevices->ListUsbDevices()),
              std::vector<std::string>{"3a7e:6a11 " + usb.string()});
}

}  // namespace
}  // namespace tarvex
