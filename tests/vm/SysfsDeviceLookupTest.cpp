// Finding the host's node of a device the device side made, over sysfs trees built in a
// temporary folder in the shapes the kernel uses.

#include "sim/kernel/SysfsDeviceLookup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace tarvex {
namespace {

namespace fs = std::filesystem;

TEST(UeventValueTest, FindsOnlyTheWholeKey) {
    const std::string uevent =
        "DRIVER=hid-generic\nHID_ID=0003:00003A7E:00006A11\nHID_UNIQUE=other\nHID_UNIQ=abc\n";
    struct Case {
        std::string Key;
        std::string Value;
    };
    for (const auto& c : std::vector<Case>{{"DRIVER", "hid-generic"},
                                           {"HID_UNIQ", "abc"},
                                           {"HID_UNIQUE", "other"},
                                           {"HID", ""},
                                           {"HID_NAME", ""},
                                           {"DRIVER=hid", ""}}) {
        EXPECT_EQ(UeventValue(uevent, c.Key), c.Value) << c.Key;
    }
    EXPECT_EQ(UeventValue("KEY=last line without newline", "KEY"), "last line without newline");
    EXPECT_EQ(UeventValue("", "KEY"), "");
}

class SysfsTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Root = fs::temp_directory_path() /
                 ("tarvex-sysfs-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_Root);
        fs::create_directories(m_Root / "class/hidraw");
        fs::create_directories(m_Root / "class/block");
    }
    void TearDown() override { fs::remove_all(m_Root); }

    void Write(const fs::path& relative, const std::string& text) {
        fs::create_directories((m_Root / relative).parent_path());
        std::ofstream(m_Root / relative) << text;
    }

    // hidrawN whose HID device says `uniq`, as class/hidraw/hidrawN links into devices/.
    void AddHidraw(const std::string& name, const std::string& hidDevice, const std::string& uniq) {
        const fs::path device = m_Root / "devices/virtual/misc/uhid" / hidDevice;
        Write(device / "uevent", "HID_NAME=x\nHID_UNIQ=" + uniq + "\n");
        fs::create_directories(device / "hidraw" / name);
        fs::create_directory_symlink(device, device / "hidraw" / name / "device");
        fs::create_directory_symlink(device / "hidraw" / name, m_Root / "class/hidraw" / name);
    }

    // A disk (and optionally its partition) on the USB device `usbDevice`; an empty serial
    // leaves the USB device out, as for a disk that is not on USB.
    void AddDisk(const std::string& name, const std::string& usbDevice, const std::string& serial,
                 bool partition) {
        const fs::path usb = m_Root / "devices/platform/dummy_hcd.0/usb1" / usbDevice;
        if (!serial.empty()) {
            Write(usb / "idVendor", "3a7e\n");
            Write(usb / "serial", serial + "\n");
        }
        const fs::path disk = usb / (usbDevice + ":1.0/host0/target0:0:0/0:0:0:0/block") / name;
        fs::create_directories(disk);
        fs::create_directory_symlink(disk, m_Root / "class/block" / name);
        if (partition) {
            Write(disk / (name + "1") / "partition", "1\n");
            fs::create_directory_symlink(disk / (name + "1"),
                                         m_Root / "class/block" / (name + "1"));
        }
    }

    fs::path m_Root;
};

TEST_F(SysfsTreeTest, FindsTheHidrawNodeByTheDevicesUniqueId) {
    AddHidraw("hidraw0", "0003:1234:5678.0001", "foreign");
    AddHidraw("hidraw3", "0003:3A7E:6A11.0004", "sim42");
    EXPECT_EQ(FindHidrawNodeByUniq("sim42", m_Root), "/dev/hidraw3");
    EXPECT_EQ(FindHidrawNodeByUniq("foreign", m_Root), "/dev/hidraw0");
    EXPECT_EQ(FindHidrawNodeByUniq("sim4", m_Root), "");
    EXPECT_EQ(FindHidrawNodeByUniq("", m_Root), "");
}

TEST_F(SysfsTreeTest, FindsTheWholeDiskOfTheUsbDeviceWithTheSerial) {
    AddDisk("sda", "1-1", "other", false);
    AddDisk("sdb", "1-2", "drive7", true);
    AddDisk("vda", "none", "", false);
    EXPECT_EQ(FindBlockNodeByUsbSerial("drive7", m_Root), "/dev/sdb");
    EXPECT_EQ(FindBlockNodeByUsbSerial("other", m_Root), "/dev/sda");
    EXPECT_EQ(FindBlockNodeByUsbSerial("drive", m_Root), "");
}

TEST_F(SysfsTreeTest, AMissingTreeFindsNothing) {
    EXPECT_EQ(FindHidrawNodeByUniq("x", m_Root / "absent"), "");
    EXPECT_EQ(FindBlockNodeByUsbSerial("x", m_Root / "absent"), "");
}

}  // namespace
}  // namespace tarvex
