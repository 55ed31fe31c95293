// Device notices from libudev: which events give which notice, how the kernel's and udevd's
// copies of an event are merged, and a monitor that starts, gives a pollable descriptor, drains
// it and reports events it lost.

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

// The two sources merged: a scripted sequence of arrivals, each followed by what is taken then.
TEST(UeventMergerTest, UdevdsCopyWinsAndTheKernelsStandsInWhereUdevdIsSilent) {
    using Clock = CUeventMerger::Clock;
    using O = UeventOrigin;
    const auto t0 = Clock::time_point{} + std::chrono::hours(1);
    constexpr auto kArrival = kDeviceArrival;
    constexpr auto kTree = kDeviceNodesChanged;
    struct Step {
        std::optional<O> origin;  // nothing: only a take
        std::uint64_t seq = 0;
        std::optional<std::uint32_t> notice;
        std::chrono::milliseconds at{0};
        std::vector<std::uint32_t> taken;  // what a take right after it gives
    };
    const struct {
        const char* name;
        bool udevdMayRun;
        std::vector<Step> steps;
        UeventSource source;  // afterwards
    } cases[] = {
        {"udevd delivers: its copy once, the kernel's never",
         true,
         {{O::Kernel, 1, kArrival, {}, {}},
          {O::Udevd, 1, kArrival, std::chrono::milliseconds(40), {kArrival}},
          {std::nullopt, 0, {}, kUdevdGraceDelivering * 2, {}}},
         UeventSource::Udevd},
        {"udevd's copy read before the kernel's",
         true,
         {{O::Udevd, 5, kTree, {}, {kTree}},
          {O::Kernel, 5, kTree, {}, {}},
          {std::nullopt, 0, {}, kUdevdGraceDelivering * 2, {}}},
         UeventSource::Udevd},
        {"a control socket but no copies from udevd: the kernel's after the grace, then at once",
         true,
         {{O::Kernel, 1, kTree, {}, {}},
          {O::Kernel, 2, kArrival, std::chrono::milliseconds(10), {}},
          {std::nullopt, 0, {}, kUdevdGraceUnknown - std::chrono::milliseconds(1), {}},
          {std::nullopt, 0, {}, kUdevdGraceUnknown, {kTree, kArrival}},
          {O::Kernel, 3, kDeviceRemoveComplete, kUdevdGraceUnknown, {kDeviceRemoveComplete}}},
         UeventSource::Kernel},
        {"no control socket: the kernel's at once",
         false,
         {{O::Kernel, 1, kArrival, {}, {kArrival}}},
         UeventSource::Kernel},
        {"events without a notice still show that udevd delivers",
         true,
         {{O::Kernel, 1, std::nullopt, {}, {}},
          {O::Udevd, 1, std::nullopt, {}, {}},
          {O::Kernel, 2, kArrival, {}, {}},
          {std::nullopt, 0, {}, kUdevdGraceUnknown, {}},  // udevd's grace is the longer one
          {O::Udevd, 2, kArrival, kUdevdGraceUnknown, {kArrival}}},
         UeventSource::Udevd},
        {"a late copy from udevd after the kernel's went out is delivered too",
         true,
         {{O::Kernel, 1, kArrival, {}, {}},
          {std::nullopt, 0, {}, kUdevdGraceUnknown, {kArrival}},
          {O::Udevd, 1, kArrival, kUdevdGraceUnknown * 2, {kArrival}}},
         UeventSource::Udevd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CUeventMerger merger(c.udevdMayRun);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            if (step.origin) {
                merger.Add(*step.origin, step.seq, step.notice, t0 + step.at);
            }
            EXPECT_EQ(merger.Take(t0 + step.at), step.taken);
        }
        EXPECT_EQ(merger.Source(), c.source) << ToString(merger.Source());
    }
}

TEST(UeventMergerTest, TellsWhenAHeldBackCopyFallsDueAndReportsLossesAtOnce) {
    const auto t0 = CUeventMerger::Clock::time_point{} + std::chrono::hours(1);
    CUeventMerger merger(true);
    EXPECT_FALSE(merger.NextDue());
    merger.Add(UeventOrigin::Kernel, 7, kDeviceArrival, t0);
    EXPECT_EQ(merger.NextDue(), t0 + kUdevdGraceUnknown);
    merger.AddLost();
    merger.AddLost();
    EXPECT_EQ(merger.Take(t0), std::vector<std::uint32_t>{kDeviceNodesChanged});
    merger.Add(UeventOrigin::Udevd, 7, kDeviceArrival, t0);
    EXPECT_FALSE(merger.NextDue());
}

bool Readable(int fd, int timeoutMs) {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 1 && (waiting.revents & POLLIN) != 0;
}

std::filesystem::path NoControlSocket() {
    return std::filesystem::temp_directory_path() /
           ("tarvex-no-udevd-control-" + std::to_string(getpid()));
}

TEST(UdevDeviceMonitor, StartsWithAPollableDescriptorWithOrWithoutUdevd) {
    const auto control = std::filesystem::temp_directory_path() /
                         ("tarvex-udevd-control-" + std::to_string(getpid()));
    { std::ofstream(control) << ""; }
    for (const auto& path : {control, NoControlSocket()}) {
        SCOPED_TRACE(path);
        CUdevDeviceMonitor monitor(path);
        ASSERT_TRUE(monitor.Listening());
        EXPECT_EQ(monitor.Source(), path == control ? UeventSource::Unknown : UeventSource::Kernel);
        const int fd = monitor.NoticeFd();
        ASSERT_GE(fd, 0);
        pollfd waiting{fd, POLLIN, 0};
        EXPECT_GE(::poll(&waiting, 1, 0), 0);
        EXPECT_EQ(waiting.revents & (POLLERR | POLLNVAL), 0);
        EXPECT_TRUE(monitor.RegisterHidNotices());
        monitor.UnregisterHidNotices();
    }
    std::filesystem::remove(control);
}

// The kernel announces a "change" of any device whose uevent file is written. The null device
// is in a subsystem the monitor does not care about: its events wake the descriptor, give no
// notice, and must all be taken, or an event loop waiting on the descriptor would spin.
constexpr const char* kEventTrigger = "/sys/devices/virtual/mem/null/uevent";

TEST(UdevDeviceMonitor, TakesEveryWaitingEventAndLeavesTheDescriptorQuiet) {
    TARVEX_REQUIRE_OR_SKIP(
        ::access(kEventTrigger, W_OK) == 0,
        "cannot make the kernel send an event: " << kEventTrigger << " is writable by root only");
    CUdevDeviceMonitor monitor(NoControlSocket());
    ASSERT_TRUE(monitor.Listening());
    monitor.RegisterHidNotices();
    // The kernel queues the three events before each write returns, so a monitor that leaves
    // any behind is caught on every try. Another program's event (a test beside this one
    // triggering the same device, a loop device being set up) can come in just after a try: a
    // try that ends readable is made again, a few times.
    bool quiet = false;
    for (int attempt = 0; attempt < 3 && !quiet; ++attempt) {
        for (int i = 0; i < 3; ++i) {
            std::ofstream(kEventTrigger) << "change";
        }
        ASSERT_TRUE(Readable(monitor.NoticeFd(), kHangGuardMs)) << "no event arrived";
        EXPECT_TRUE(monitor.TakeNotices().empty());
        quiet = !Readable(monitor.NoticeFd(), 0);
    }
    EXPECT_TRUE(quiet) << "events were left behind, three tries in a row";
}

// More events than the receive buffer holds: the kernel drops some, and which ones is unknown,
// so the window must be told to look at the devices again rather than hear nothing.
TEST(UdevDeviceMonitor, EventsLostToAFullBufferBecomeATreeChange) {
    TARVEX_REQUIRE_OR_SKIP(
        ::access(kEventTrigger, W_OK) == 0,
        "cannot make the kernel send an event: " << kEventTrigger << " is writable by root only");
    // As small as the kernel allows (root may force it below its usual minimum).
    CUdevDeviceMonitor monitor(NoControlSocket(), 1024);
    ASSERT_TRUE(monitor.Listening());
    for (int i = 0; i < 300; ++i) {
        std::ofstream(kEventTrigger) << "change";
    }
    ASSERT_TRUE(Readable(monitor.NoticeFd(), kHangGuardMs)) << "no event arrived";
    EXPECT_EQ(monitor.TakeNotices(), std::vector<std::uint32_t>{kDeviceNodesChanged});
    EXPECT_FALSE(Readable(monitor.NoticeFd(), 0)) << "events were left behind";
}

}  // namespace
}  // namespace tarvex
