// The hidapi backend as far as a machine without HID devices allows: listing, and the reasons
// an open fails, down to the hidraw driver's own answers for a node without a device.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/linux/HidapiHidPort.h"
#include "platform/linux/HidrawMapping.h"
#include "tests/platform/SkipOrFail.h"

namespace tarvex {
namespace {

class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_Path = std::filesystem::temp_directory_path() /
                 (std::string("tarvex-hidapi-") + info->name() + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_Path);
        std::filesystem::create_directories(m_Path);
    }
    ~TempFolder() { std::filesystem::remove_all(m_Path); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

TEST(HidapiHidPort, KeepsEachInterfaceOnceWhereItWasFirstListed) {
    const std::vector<HidInterfaceInfo> listed = {
        {"/dev/hidraw2", 0x3A7E, 0x6A11},
        {"/dev/hidraw0", 0x046D, 0xC52B},
        {"/dev/hidraw2", 0x3A7E, 0x6A11},  // a second top-level collection of the same node
        {"", 0x1234, 0x5678},              // no device node
        {"/dev/hidraw1", 0x046D, 0xC52B},
        {"/dev/hidraw0", 0x046D, 0xC52B},
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

TEST(HidapiHidPort, ListsTheHidrawNodesSysfsKnows) {
    std::set<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", error)) {
        nodes.insert("/dev/" + entry.path().filename().string());
    }
    CHidapiHidPort port;
    const auto interfaces = port.ListHidInterfaces();
    std::set<std::string> listed;
    for (const auto& info : interfaces) {
        EXPECT_TRUE(nodes.contains(info.Path)) << info.Path << " is not a hidraw node";
        EXPECT_TRUE(listed.insert(info.Path).second) << info.Path << " listed twice";
    }
    if (nodes.empty()) {
        EXPECT_TRUE(interfaces.empty());
    }
    // A second listing in a row sees the same machine.
    EXPECT_EQ(port.ListHidInterfaces().size(), interfaces.size());
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

// Exit status of a process that tried to open `path`: the HidOpenError's value.
[[noreturn]] void OpenAndExit(const std::string& path) {
    CHidapiHidPort port;
    _exit(static_cast<int>(port.OpenHidInterface(path).Error));
}

// The node is root's alone (mode 0600), as a hidraw node is without the uaccess rule; a desktop
// user has no root, so the child gives it up before it tries.
TEST_F(HidrawNodeTest, AMissingPermissionIsToldApart) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                _exit(100);
            }
            OpenAndExit(m_Node.string());
        },
        ::testing::ExitedWithCode(static_cast<int>(HidOpenError::PermissionDenied)), "");
}

}  // namespace
}  // namespace tarvex
