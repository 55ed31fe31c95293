#include "tests/platform/FakeSysfs.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/platform/SkipOrFail.h"

namespace tarvex::testing {

namespace {

const std::filesystem::path kSysfs = "/sys";
// libudev accepts a device only where statfs says sysfs, unless this is "0"; the check is meant
// to be relaxed for test trees like this one.
constexpr const char* kVerifySysfsVariable = "SYSTEMD_DEVICE_VERIFY_SYSFS";

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::optional<std::string> EnterPrivateMountNamespace() {
    if (::geteuid() != 0) {
        return "laying a test tree over /sys needs root (CAP_SYS_ADMIN); run as root to include "
               "this test";
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        return SystemError("cannot enter a private mount namespace (unshare)");
    }
    // Without this a shared root would carry the tree back to the whole system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return SystemError("cannot make the mount namespace private");
    }
    return std::nullopt;
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

// The link at `link` points to `target` by a relative path, as sysfs's links do.
void MakeRelativeLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_directory_symlink(target.lexically_relative(link.parent_path()), link);
}

std::string Hex(unsigned value, int digits, bool upper) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "%0*X" : "%0*x", digits, value);
    return text;
}

}  // namespace

std::optional<std::string> FakeSysfsUnavailable() {
    static const std::optional<std::string> why = EnterPrivateMountNamespace();
    return why;
}

CFakeSysfs::CFakeSysfs() {
    if (FakeSysfsUnavailable()) {
        ADD_FAILURE() << *FakeSysfsUnavailable();
        return;
    }
    if (::mount("tarvex-fake-sysfs", kSysfs.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
        ADD_FAILURE() << SystemError("mount tmpfs on /sys");
        return;
    }
    m_bMounted = true;
    for (const char* folder : {"devices", "bus/usb/devices", "bus/hid/devices", "class/hidraw",
                               "class/block", "dev/block"}) {
        std::filesystem::create_directories(kSysfs / folder);
    }
    if (const char* before = std::getenv(kVerifySysfsVariable)) {
        m_VerifySysfsBefore = before;
    }
    ::setenv(kVerifySysfsVariable, "0", 1);
}

CFakeSysfs::~CFakeSysfs() {
    if (m_VerifySysfsBefore) {
        ::setenv(kVerifySysfsVariable, m_VerifySysfsBefore->c_str(), 1);
    } else {
        ::unsetenv(kVerifySysfsVariable);
    }
    if (m_bMounted && ::umount2(kSysfs.c_str(), 0) != 0) {
        ::umount2(kSysfs.c_str(), MNT_DETACH);
    }
}

std::filesystem::path CFakeSysfs::AddDevice(const std::filesystem::path& path,
                                            const std::string& subsystemFolder,
                                            const std::string& uevent) {
    std::filesystem::create_directories(path);
    WriteFile(path / "uevent", uevent);
    const auto subsystem = kSysfs / subsystemFolder;
    MakeRelativeLink(subsystem, path / "subsystem");
    const auto listing = subsystemFolder.starts_with("bus/") ? subsystem / "devices" : subsystem;
    MakeRelativeLink(path, listing / path.filename());
    return path;
}

std::filesystem::path CFakeSysfs::AddUsbDevice(const std::string& devicePath,
                                               const std::optional<std::string>& idVendor,
                                               const std::optional<std::string>& idProduct,
                                               const std::optional<std::string>& serial) {
    const auto path =
        AddDevice(kSysfs / "devices" / devicePath, "bus/usb", "DEVTYPE=usb_device\nTYPE=0/0/0\n");
    if (idVendor) {
        WriteFile(path / "idVendor", *idVendor);
    }
    if (idProduct) {
        WriteFile(path / "idProduct", *idProduct);
    }
    if (serial) {
        WriteFile(path / "serial", *serial);
    }
    return path;
}

std::filesystem::path CFakeSysfs::AddUsbInterface(const std::filesystem::path& usbDevice,
                                                  int number) {
    const auto name = usbDevice.filename().string() + ":1." + std::to_string(number);
    const auto path = AddDevice(usbDevice / name, "bus/usb", "DEVTYPE=usb_interface\n");
    WriteFile(path / "bInterfaceNumber", Hex(static_cast<unsigned>(number), 2, false) + "\n");
    return path;
}

void CFakeSysfs::AddHidDevice(const std::filesystem::path& parent, std::uint16_t bus,
                              std::uint16_t vendorId, std::uint16_t productId,
                              unsigned hidrawNumber,
                              const std::vector<std::uint8_t>& reportDescriptor,
                              const std::string& uniq) {
    // The kernel names a HID device BUS:VENDOR:PRODUCT.INSTANCE and writes HID_ID with 8-digit
    // vendor and product fields.
    const auto name = Hex(bus, 4, true) + ":" + Hex(vendorId, 4, true) + ":" +
                      Hex(productId, 4, true) + "." + Hex(++m_HidInstance, 4, true);
    const auto hid = AddDevice(parent / name, "bus/hid",
                               "HID_ID=" + Hex(bus, 4, true) + ":" + Hex(vendorId, 8, true) + ":" +
                                   Hex(productId, 8, true) + "\nHID_NAME=Test device " + name +
                                   "\nHID_UNIQ=" + uniq + "\n");
    WriteFile(hid / "report_descriptor",
              std::string(reportDescriptor.begin(), reportDescriptor.end()));
    const auto node = "hidraw" + std::to_string(hidrawNumber);
    AddDevice(hid / "hidraw" / node, "class/hidraw",
              "MAJOR=240\nMINOR=" + std::to_string(hidrawNumber) + "\nDEVNAME=" + node + "\n");
}

std::filesystem::path CFakeSysfs::AddBlockDevice(const std::filesystem::path& parent,
                                                 const std::string& name, unsigned major,
                                                 unsigned minor, const std::string& devType) {
    // A partition sits in its disk's folder; a disk in the "block" folder of its parent.
    const auto folder = devType == "partition" ? parent : parent / "block";
    const auto number = std::to_string(major) + ":" + std::to_string(minor);
    const auto path =
        AddDevice(folder / name, "class/block",
                  "MAJOR=" + std::to_string(major) + "\nMINOR=" + std::to_string(minor) +
                      "\nDEVNAME=" + name + "\nDEVTYPE=" + devType + "\n");
    WriteFile(path / "dev", number + "\n");
    MakeRelativeLink(path, kSysfs / "dev" / "block" / number);
    return path;
}

void FakeSysfsTest::SetUp() {
    const auto why = FakeSysfsUnavailable();
    TARVEX_REQUIRE_OR_SKIP(!why, *why);
    m_Sysfs.emplace();
}

std::vector<std::string> DescribeEach(const std::vector<HidInterfaceInfo>& interfaces) {
    std::vector<std::string> lines;
    for (const auto& info : interfaces) {
        lines.push_back(info.Path + " " + Hex(info.VendorId, 4, false) + ":" +
                        Hex(info.ProductId, 4, false) +
                        (info.SerialNumber.empty() ? "" : " serial=" + info.SerialNumber));
    }
    return lines;
}

std::vector<std::string> DescribeEach(const std::vector<UsbDeviceInfo>& devices) {
    std::vector<std::string> lines;
    for (const auto& device : devices) {
        lines.push_back(Hex(device.VendorId, 4, false) + ":" + Hex(device.ProductId, 4, false) +
                        " " + device.SystemPath +
                        (device.SerialNumber.empty() ? "" : " serial=" + device.SerialNumber));
    }
    return lines;
}

}  // namespace tarvex::testing
