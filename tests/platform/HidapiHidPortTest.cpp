// The hidapi backend as far as a machine without HID devices allows: listing from a sysfs tree the
// test lays out, and the reasons an open fails, down to the hidraw driver's own answers for a node
// without a device.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/linux/HidapiHidPort.h"
#include "platform/linux/HidrawMapping.h"
#include "tests/platform/FakeSysfs.h"
#include "tests/platform/SkipOrFail.h"

namespace tarvex {
namespace {

// Whether a user who owns none of them can search every folder down to `folder`.
bool OthersCanSearch(const std::filesystem::path& folder) {
    std::filesystem::path walked;
    for (const auto& part : folder) {
        walked /= part;
        struct stat status {};
        if (::stat(walked.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0) {
            return false;
        }
    }
    return true;
}

// A folder of the test's own that a test which gives up root can still reach: a temporary
// folder below a private one (TMPDIR under /root) is passed over for /tmp, and the umask does not
// decide the folder's mode.
class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto temporary = std::filesystem::temp_directory_path();
        m_Path = (OthersCanSearch(temporary) ? temporary : std::filesystem::path("/tmp")) /
                 (std::string("tarvex-hidapi-") + info->name() + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_Path);
        std::filesystem::create_directories(m_Path);
        std::filesystem::permissions(m_Path, std::filesystem::perms(0755));
    }
    ~TempFolder() { std::filesystem::remove_all(m_Path); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

TEST(HidapiHidPort, KeepsEachInterfaceOnceWhereItWasFirstListed) {
    const std::vector<HidInterfaceInfo> listed = {
        {"/dev/hidraw2", 0x3A7E, 0x6A11, {}},
        {"/dev/hidraw0", 0x046D, 0xC52B, {}},
        {"/dev/hidraw2", 0x3A7E, 0x6A11, {}},  // a second top-level collection of the same node
        {"", 0x1234, 0x5678, {}},              // no device node
        {"/dev/hidraw1", 0x046D, 0xC52B, {}},
        {"/dev/hidraw0", 0x046D, 0xC52B, {}},
    };
    const auto kept = KeepFirstOfEachPath(listed);
    std::vector<std::string> paths;
    for (const auto& info : kept) {
        paths.push_back(info.Path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw0", "/dev/hidraw1"}));
    EXPECT_EQ(kept[0].VendorId, 0x3A7E);
    EXPECT_EQ(kept[0].ProductId, 0x6A11);
}

using HidapiHidPortOnATree = testing::FakeSysfsTest;

// Every hidraw node of a USB or Bluetooth HID device, in udev's order (by sysfs path, not by
// node number), with the IDs and the serial number the kernel gives its HID device; an interface
// with two top-level collections once (hidapi lists it once per collection from 0.14 on).
TEST_F(HidapiHidPortOnATree, ListsEachUsbAndBluetoothNodeOnceWithItsIds) {
    const std::vector<std::uint8_t> twoCollections = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85,
                                                      0x01, 0xC0, 0x06, 0x00, 0xFF, 0x09, 0x01,
                                                      0xA1, 0x01, 0x85, 0x02, 0xC0};
    const auto usb = Sysfs().AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-1", "3a7e\n", "6a11\n");
    Sysfs().AddHidDevice(Sysfs().AddUsbInterface(usb, 0), 3, 0x3A7E, 0x6A11, 2, twoCollections,
                         "SN-42");
    const std::filesystem::path uhid = "/sys/devices/virtual/misc/uhid";
    Sysfs().AddHidDevice(uhid, 5, 0x046D, 0xB012, 0, testing::kOneCollectionDescriptor);
    Sysfs().AddHidDevice(uhid, 6, 0x1234, 0x5678, 1, testing::kOneCollectionDescriptor);

    CHidapiHidPort port;
    const auto listed = testing::DescribeEach(port.ListHidInterfaces());
    EXPECT_EQ(listed, (std::vector<std::string>{"/dev/hidraw2 3a7e:6a11 serial=SN-42",
                                                "/dev/hidraw0 046d:b012"}));
    EXPECT_EQ(testing::DescribeEach(port.ListHidInterfaces()), listed) << "a second listing";
}

TEST(HidapiHidPort, AnythingButAHidrawNodeIsRefusedBeforeHidapiSeesIt) {
    const TempFolder folder;
    const auto file = folder.Path() / "hidraw-file";
    { std::ofstream(file) << "x"; }
    const auto fifo = folder.Path() / "hidraw-fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, HidOpenError>> cases = {
        {(folder.Path() / "hidraw-gone").string(), HidOpenError::NotFound},
        {folder.Path().string(), HidOpenError::Other},
        {file.string(), HidOpenError::Other},
        {fifo.string(), HidOpenError::Other},
        {"/dev/null", HidOpenError::Other},
    };
    CHidapiHidPort port;
    for (const auto& [path, expected] : cases) {
        const auto opened = port.OpenHidInterface(path);
        EXPECT_FALSE(opened.Connection) << path;
        EXPECT_EQ(opened.Error, expected) << path;
    }
}

// A hidraw node of a minor number no device has: what a node left behind by an unplugged
// device looks like. Making one needs root.
class HidrawNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream devices("/proc/devices");
        std::string text;
        for (std::string line; std::getline(devices, line);) {
            text += line + '\n';
        }
        const auto hidrawMajor = CharacterDeviceMajor(text, "hidraw");
        TARVEX_REQUIRE_OR_SKIP(hidrawMajor, "this kernel has no hidraw driver");
        TARVEX_REQUIRE_OR_SKIP(::geteuid() == 0, "making a device node (mknod) needs root");
        // hidraw hands out minors from 0 up; the last of its 64 is the least likely in use.
        unsigned minor = 63;
        while (std::filesystem::exists("/sys/dev/char/" + std::to_string(*hidrawMajor) + ":" +
                                       std::to_string(minor))) {
            ASSERT_GT(minor--, 0U) << "every hidraw minor is in use";
        }
        m_Node = m_Folder.Path() / "hidraw-orphan";
        ASSERT_EQ(::mknod(m_Node.c_str(), S_IFCHR | 0600, makedev(*hidrawMajor, minor)), 0)
            << std::strerror(errno);
    }

    TempFolder m_Folder;
    std::filesystem::path m_Node;
};

TEST_F(HidrawNodeTest, ANodeWithoutItsDeviceIsNotFound) {
    CHidapiHidPort port;
    const auto opened = port.OpenHidInterface(m_Node.string());
    EXPECT_FALSE(opened.Connection);
    EXPECT_EQ(opened.Error, HidOpenError::NotFound);
}

// Exit status of a process that could not even reach the node: neither a HidOpenError nor the
// death test's own 1.
constexpr int kNodeUnreachable = 100;

// Exit status of a process that gave up root and tried to open `path`: the HidOpenError's value.
[[noreturn]] void OpenAsNobodyAndExit(const std::string& path) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        std::fprintf(stderr, "cannot give up root: %s\n", std::strerror(errno));
        _exit(kNodeUnreachable);
    }
    // A folder this user cannot search would refuse the open with the same EACCES as the node.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        std::fprintf(stderr, "uid 65534 cannot reach %s: %s\n", path.c_str(), std::strerror(errno));
        _exit(kNodeUnreachable);
    }
    CHidapiHidPort port;
    _exit(static_cast<int>(port.OpenHidInterface(path).Error));
}

// The node is root's alone (mode 0600), as a hidraw node is without the uaccess rule; a desktop
// user has no root, so the child gives it up before it tries. Root is refused only for want of a
// device, so the node's mode is the one difference the child meets.
TEST_F(HidrawNodeTest, AMissingPermissionIsToldApart) {
    ASSERT_EQ(CHidapiHidPort().OpenHidInterface(m_Node.string()).Error, HidOpenError::NotFound);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OpenAsNobodyAndExit(m_Node.string()),
                ::testing::ExitedWithCode(static_cast<int>(HidOpenError::PermissionDenied)), "");
}

// Serial numbers come from hidapi as wide strings.
TEST(HidapiHidPort, WideStringsBecomeUtf8) {
    EXPECT_EQ(HidapiTextToUtf8(nullptr), "");
    EXPECT_EQ(HidapiTextToUtf8(L""), "");
    EXPECT_EQ(HidapiTextToUtf8(L"SN-0042"), "SN-0042");
    const wchar_t mixed[] = {L'\u00e9', L'\u4e2d', static_cast<wchar_t>(0x1F3AE), 0};
    EXPECT_EQ(HidapiTextToUtf8(mixed), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\xAE");
    const wchar_t invalid[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                               static_cast<wchar_t>(-1), 0};
    EXPECT_EQ(HidapiTextToUtf8(invalid), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tarvex
