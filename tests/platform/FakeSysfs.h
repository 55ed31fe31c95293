#pragma once
// A sysfs tree built by a test and laid over /sys, so that the real libudev and hidapi list the
// devices the test describes: the Linux backends run unchanged on a machine without USB or HID
// hardware.
//
// The tree is a tmpfs mounted on /sys inside a mount namespace private to the test process, so
// nothing else on the machine sees it, and it goes with the process even if the test dies. The
// layout follows the kernel's: devices below /sys/devices, each with a uevent file and a
// "subsystem" link, listed through links in /sys/bus/*/devices and /sys/class/*. Needs root
// (CAP_SYS_ADMIN); otherwise FakeSysfsUnavailable says why.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/HidPort.h"
#include "platform/UsbDeviceList.h"

namespace tarvex::testing {

// A report descriptor with one top-level collection (vendor page, report ID 1).
inline const std::vector<std::uint8_t> kOneCollectionDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01,
                                                                   0xA1, 0x01, 0x85, 0x01, 0xC0};

// Why no tree can be laid over /sys here, or nothing when it can. Moves the calling thread into
// a private mount namespace on its first call.
std::optional<std::string> FakeSysfsUnavailable();

class CFakeSysfs {
public:
    // Lays an empty tree over /sys (a test failure if it cannot).
    CFakeSysfs();
    // Takes the tree away again: /sys shows the machine's own devices.
    ~CFakeSysfs();
    CFakeSysfs(const CFakeSysfs&) = delete;
    CFakeSysfs& operator=(const CFakeSysfs&) = delete;

    // A USB device at /sys/devices/`devicePath` whose idVendor, idProduct and serial files hold
    // the given texts as they are (a file is left out when its text is nullopt). Returns its
    // sysfs path.
    std::filesystem::path AddUsbDevice(const std::string& devicePath,
                                       const std::optional<std::string>& idVendor,
                                       const std::optional<std::string>& idProduct,
                                       const std::optional<std::string>& serial = std::nullopt);
    // Interface `number` of a USB device (configuration 1), as the kernel names it ("1-1:1.0").
    std::filesystem::path AddUsbInterface(const std::filesystem::path& usbDevice, int number);

    // A HID device below `parent` (a USB interface, or a folder such as
    // "/sys/devices/virtual/misc/uhid") on `bus` (3 USB, 5 Bluetooth, 6 virtual), with its
    // report descriptor, its unique ID (the serial number the kernel reports for it) and its
    // hidraw node /dev/hidraw`hidrawNumber`.
    void AddHidDevice(const std::filesystem::path& parent, std::uint16_t bus,
                      std::uint16_t vendorId, std::uint16_t productId, unsigned hidrawNumber,
                      const std::vector<std::uint8_t>& reportDescriptor,
                      const std::string& uniq = {});

    // A block device `name` (such as "sdb", or "sdb1" below it) at `parent`/block/`name` with the
    // device number major:minor, reachable as /sys/dev/block/major:minor as the kernel links it.
    // `devType` is "disk" or "partition". Returns its sysfs path.
    std::filesystem::path AddBlockDevice(const std::filesystem::path& parent,
                                         const std::string& name, unsigned major, unsigned minor,
                                         const std::string& devType);

private:
    // Makes a device folder with its uevent text and "subsystem" link, and lists it in
    // `subsystemFolder` (such as "bus/usb" or "class/hidraw").
    std::filesystem::path AddDevice(const std::filesystem::path& path,
                                    const std::string& subsystemFolder, const std::string& uevent);

    bool m_bMounted = false;
    unsigned m_HidInstance = 0;
    std::optional<std::string> m_VerifySysfsBefore;
};

// For the tests that list devices from a tree: skips (fails under CI) where no tree can be laid.
class FakeSysfsTest : public ::testing::Test {
protected:
    void SetUp() override;
    CFakeSysfs& Sysfs() { return *m_Sysfs; }

private:
    std::optional<CFakeSysfs> m_Sysfs;
};

// Listings as lines ("/dev/hidraw0 3a7e:6a11", "3a7e:6a11 /sys/devices/..."), so that a failed
// comparison shows both whole lists.
std::vector<std::string> DescribeEach(const std::vector<HidInterfaceInfo>& interfaces);
std::vector<std::string> DescribeEach(const std::vector<UsbDeviceInfo>& devices);

}  // namespace tarvex::testing
