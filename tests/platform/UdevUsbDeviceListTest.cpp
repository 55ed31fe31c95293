// The USB device list through libudev: the attribute parser, and the listing of a sysfs tree the
// test lays out.

#include <gtest/gtest.h>

#include "platform/linux/UdevUsbDeviceList.h"
#include "tests/platform/FakeSysfs.h"

namespace tarvex {
namespace {

TEST(UdevUsbDeviceList, ParsesIdsAsTheKernelWritesThemAndRefusesJunk) {
    const std::vector<std::pair<std::string_view, std::optional<std::uint16_t>>> cases = {
        {"3a7e", 0x3A7E},
        {"3A7E", 0x3A7E},
        {"6a11\n", 0x6A11},
        {"0000", 0x0000},
        {"ffff", 0xFFFF},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"3a7", std::nullopt},
        {"3a7e0", std::nullopt},
        {"0x3a", std::nullopt},
        {"3a7g", std::nullopt},
        {" 3a7e", std::nullopt},
        {"3a7e ", std::nullopt},
        {"3a7e\n\n", std::nullopt},
        {"-3a7", std::nullopt},
        {"+3a7", std::nullopt},
        {std::string_view("3a\0e", 4), std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseUsbIdAttribute(text), expected) << "'" << text << "'";
    }
}

using UdevUsbDeviceListOnATree = testing::FakeSysfsTest;

// USB devices (not their interfaces) in udev's order, with the IDs and serial number their
// attributes hold; one whose IDs cannot be read as the kernel writes them is left out.
TEST_F(UdevUsbDeviceListOnATree, ListsEachUsbDeviceWithReadableIds) {
    const std::string hub = "pci0000:00/0000:00:14.0/usb1";
    const auto rootHub = Sysfs().AddUsbDevice(hub, "1d6b\n", "0002\n");
    const auto drive = Sysfs().AddUsbDevice(hub + "/1-1", "3a7e\n", "6a01\n", "DRV 0042\n");
    Sysfs().AddUsbInterface(drive, 0);
    Sysfs().AddUsbDevice(hub + "/1-2", "3a7\n", "6a01\n");       // not as the kernel writes it
    Sysfs().AddUsbDevice(hub + "/1-3", "3a7e\n", std::nullopt);  // no product ID to read
    const auto receiver = Sysfs().AddUsbDevice(hub + "/1-4", "046D\n", "c52b\n");

    CUdevUsbDeviceList list;
    EXPECT_EQ(testing::DescribeEach(list.ListUsbDevices()),
              (std::vector<std::string>{"1d6b:0002 " + rootHub.string(),
                                        "3a7e:6a01 " + drive.string() + " serial=DRV 0042",
                                        "046d:c52b " + receiver.string()}));
}

}  // namespace
}  // namespace tarvex
