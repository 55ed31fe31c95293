// Device notices from libudev: which events give which notice, which netlink source is used,
// and a monitor that starts, gives a pollable descriptor and drains it.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/UdevDeviceMonitor.h"
#include "tests/platform/SkipOrFail.h"

namespace tarvex {
namespace {

constexpr int kHangGuardMs = 20000;

TEST(UdevDeviceMonitor, EventsBecomeTheThreeNotices) {
    struct Case {
        std::string_view Subsystem;
        std::string_view Action;
        std::optional<std::uint32_t> Registered;
        std::optional<std::uint32_t> Unregistered;
    };
    const std::vector<Case> cases = {
        {"hidraw", "add", kDeviceArrival, std::nullopt},
        {"hidraw", "remove", kDeviceRemoveComplete, std::nullopt},
        {"hidraw", "change", std::nullopt, std::nullopt},
        {"hidraw", "bind", std::nullopt, std::nullopt},
        {"usb", "add", kDeviceNodesChanged, kDeviceNodesChanged},
        {"usb", "remove", kDeviceNodesChanged, kDeviceNodesChanged},
        {"usb", "change", kDeviceNodesChanged, kDeviceNodesChanged},
        {"usb", "bind", kDeviceNodesChanged, kDeviceNodesChanged},
        {"usb", "unbind", kDeviceNodesChanged, kDeviceNodesChanged},
        {"usb", "", std::nullopt, std::nullopt},
        {"hid", "add", std::nullopt, std::nullopt},
        {"input", "add", std::nullopt, std::nullopt},
        {"block", "add", std::nullopt, std::nullopt},
        {"", "add", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Subsystem) + " " + std::string(c.Action));
        EXPECT_EQ(NoticeForUevent(c.Subsystem, c.Action, true), c.Registered);
        EXPECT_EQ(NoticeForUevent(c.Subsystem, c.Action, false), c.Unregistered);
    }
}

TEST(UdevDeviceMonitor, ABatchKeepsOneTreeChangeInARowAndEverythingElse) {
    const std::vector<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> cases = {
        // Plug: USB device, interface, driver binds, then the hidraw node.
        {{7, 7, 7, 0x8000}, {7, 0x8000}},
        // Unplug: the node goes first, then the USB side.
        {{0x8004, 7, 7}, {0x8004, 7}},
        {{7, 0x8000, 7, 0x8000}, {7, 0x8000, 7, 0x8000}},
        {{0x8000, 0x8000}, {0x8000, 0x8000}},
        {{0x8004, 0x8004, 7}, {0x8004, 0x8004, 7}},
    };
    for (const auto& [events, expected] : cases) {
        std::vector<std::uint32_t> batch;
        for (const auto event : events) {
            AppendNotice(batch, event);
        }
        EXPECT_EQ(batch, expected);
    }
}

TEST(UdevDeviceMonitor, ListensToUdevdOnlyWhenItRuns) {
    EXPECT_EQ(ResolveUeventSource(UeventSource::Automatic, true), UeventSource::Udev);
    EXPECT_EQ(ResolveUeventSource(UeventSource::Automatic, false), UeventSource::Kernel);
    EXPECT_EQ(ResolveUeventSource(UeventSource::Kernel, true), UeventSource::Kernel);
    EXPECT_EQ(ResolveUeventSource(UeventSource::Udev, false), UeventSource::Udev);

    const auto control = std::filesystem::temp_directory_path() /
                         ("tarvex-udevd-control-" + std::to_string(getpid()));
    std::filesystem::remove(control);
    const CUdevDeviceMonitor without(UeventSource::Automatic, control);
    EXPECT_EQ(without.Source(), UeventSource::Kernel);
    { std::ofstream(control) << ""; }
    const CUdevDeviceMonitor with(UeventSource::Automatic, control);
    EXPECT_EQ(with.Source(), UeventSource::Udev);
    std::filesystem::remove(control);
}

bool Readable(int fd, int timeoutMs) {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 1 && (waiting.revents & POLLIN) != 0;
}

TEST(UdevDeviceMonitor, StartsWithAPollableDescriptorForEitherSource) {
    for (const auto source : {UeventSource::Udev, UeventSource::Kernel}) {
        CUdevDeviceMonitor monitor(source);
        ASSERT_TRUE(monitor.Listening());
        const int fd = monitor.NoticeFd();
        ASSERT_GE(fd, 0);
        pollfd waiting{fd, POLLIN, 0};
        EXPECT_GE(::poll(&waiting, 1, 0), 0);
        EXPECT_EQ(waiting.revents & (POLLERR | POLLNVAL), 0);
        EXPECT_TRUE(monitor.RegisterHidNotices());
        monitor.UnregisterHidNotices();
    }
}

// The kernel announces a "change" of any device whose uevent file is written. The null device
// is in a subsystem the monitor does not care about: its events wake the descriptor, give no
// notice, and must all be taken, or an event loop waiting on the descriptor would spin.
TEST(UdevDeviceMonitor, TakesEveryWaitingEventAndLeavesTheDescriptorQuiet) {
    const char* trigger = "/sys/devices/virtual/mem/null/uevent";
    TARVEX_REQUIRE_OR_SKIP(
        ::access(trigger, W_OK) == 0,
        "cannot make the kernel send an event: " << trigger << " is writable by root only");
    CUdevDeviceMonitor monitor(UeventSource::Kernel);
    ASSERT_TRUE(monitor.Listening());
    monitor.RegisterHidNotices();
    for (int i = 0; i < 3; ++i) {
        std::ofstream(trigger) << "change";
    }
    ASSERT_TRUE(Readable(monitor.NoticeFd(), kHangGuardMs)) << "no event arrived";
    EXPECT_TRUE(monitor.TakeNotices().empty());
    EXPECT_FALSE(Readable(monitor.NoticeFd(), 0)) << "events were left behind";
}

}  // namespace
}  // namespace tarvex
