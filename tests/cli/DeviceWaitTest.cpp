// --wait over the virtual device and notices: it ends when the device comes, and between
// notices it looks at no device at all (counted on the HID list).

#include "cli/DeviceWait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "cli/CliOptions.h"
#include "hid/DeviceIdentity.h"
#include "sim/VirtualDeviceNotices.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

// Bound for a wait that should have ended by itself; a guard against hangs, not a measurement.
constexpr std::chrono::milliseconds kHangGuard{20'000};
// A limit that runs out with nothing happening; what matters is what was done meanwhile.
constexpr std::chrono::milliseconds kShortLimit{300};

// Counts the searches, so that a test can tell waiting from polling.
class CCountingHidPort final : public CHidPort {
public:
    explicit CCountingHidPort(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        ++m_Searches;
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        return m_Inner.OpenHidInterface(path);
    }
    int Searches() const { return m_Searches.load(); }

private:
    CHidPort& m_Inner;
    std::atomic<int> m_Searches{0};
};

class DeviceWaitTest : public ::testing::Test {
protected:
    DeviceWaitResult Wait(std::chrono::milliseconds limit, const std::function<void()>& onWaiting) {
        return WaitForUpdatableDevice(m_Hid, &m_Notices, limit, m_bStop, onWaiting);
    }

    // Plugs the update device from another thread once the wait has begun, as a user would.
    void PlugWhenWaiting() {
        m_Plugger = std::thread([this] {
            m_Port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
            m_Notices.HidDevicePlugged();
        });
    }

    void TearDown() override {
        if (m_Plugger.joinable()) {
            m_Plugger.join();
        }
    }

    sim::CVirtualHidPort m_Port;
    CCountingHidPort m_CountingPort{m_Port};
    sim::CVirtualUsbDeviceList m_Usb;
    sim::CVirtualDeviceNotices m_Notices;
    CHid m_Hid{m_CountingPort, m_Usb, &m_Notices};
    std::atomic<bool> m_bStop{false};
    std::thread m_Plugger;
};

TEST(WaitOptionTest, Parsing) {
    struct Case {
        std::vector<std::string_view> Arguments;
        bool bWait;
        long long Seconds;  // -1: refused
        std::string ErrorPart;
    };
    const std::vector<Case> cases = {
        {{"image.dat"}, false, 0, ""},
        {{"--wait", "image.dat"}, true, 0, ""},
        {{"--wait=30", "--yes", "image.dat"}, true, 30, ""},
        {{"--wait=86400", "image.dat"}, true, 86400, ""},
        {{"--wait=0", "image.dat"}, false, -1, "bad wait time '0'"},
        {{"--wait=86401", "image.dat"}, false, -1, "bad wait time"},
        {{"--wait=-5", "image.dat"}, false, -1, "bad wait time"},
        {{"--wait=5s", "image.dat"}, false, -1, "bad wait time '5s'"},
        {{"--wait=", "image.dat"}, false, -1, "bad wait time"},
        {{"--wait", "--list"}, false, -1, "--wait goes with an update"},
        {{"--wait"}, false, -1, "no firmware image"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCliArguments(c.Arguments);
        ASSERT_EQ(parsed.Options.has_value(), c.Seconds >= 0) << c.Arguments[0];
        EXPECT_THAT(parsed.Error, ::testing::HasSubstr(c.ErrorPart)) << c.Arguments[0];
        if (parsed.Options) {
            EXPECT_EQ(parsed.Options->Wait, c.bWait) << c.Arguments[0];
            EXPECT_EQ(parsed.Options->WaitLimit.count(), c.Seconds) << c.Arguments[0];
        }
    }
}

TEST_F(DeviceWaitTest, AnAttachedDeviceEndsItAtOnceWithoutWaiting) {
    m_Port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
    bool waited = false;
    EXPECT_EQ(Wait(kHangGuard, [&] { waited = true; }), DeviceWaitResult::Found);
    EXPECT_FALSE(waited);
    EXPECT_EQ(m_CountingPort.Searches(), 1);
}

TEST_F(DeviceWaitTest, ADevicePluggedDuringTheWaitIsFoundThroughItsNotice) {
    bool waited = false;
    const auto result = Wait(kHangGuard, [&] {
        waited = true;
        PlugWhenWaiting();
    });
    EXPECT_EQ(result, DeviceWaitResult::Found);
    EXPECT_TRUE(waited);
    EXPECT_TRUE(m_Hid.DevicePresent());
    // Two searches before waiting (the second after the notice registration), one after the
    // notice: nothing in between.
    EXPECT_EQ(m_CountingPort.Searches(), 3);
}

TEST_F(DeviceWaitTest, ADriveModeDeviceEndsItToo) {
    const auto result = Wait(kHangGuard, [&] {
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[2]);
        m_Notices.UsbDeviceChanged();
    });
    EXPECT_EQ(result, DeviceWaitResult::Found);
    EXPECT_TRUE(m_Hid.DriveModePresent());
}

TEST_F(DeviceWaitTest, WithoutNoticesItSearchesNoMoreAndRunsOut) {
    EXPECT_EQ(Wait(kShortLimit, {}), DeviceWaitResult::TimedOut);
    EXPECT_EQ(m_CountingPort.Searches(), 2);
}

TEST_F(DeviceWaitTest, NoticesOfOtherDevicesLeaveItWaiting) {
    const auto result = Wait(kShortLimit, [&] {
        m_Port.AddForeignInterface(0x1234, 0x5678);
        m_Notices.HidDevicePlugged();
    });
    EXPECT_EQ(result, DeviceWaitResult::TimedOut);
    EXPECT_EQ(m_CountingPort.Searches(), 3);
}

TEST_F(DeviceWaitTest, AnUpdateDeviceThatWillNotOpenForThisUserEndsIt) {
    m_Port.SetOpenError(HidOpenError::PermissionDenied);
    const auto result = Wait(kHangGuard, [&] {
        m_Port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
        m_Notices.HidDevicePlugged();
    });
    EXPECT_EQ(result, DeviceWaitResult::Locked);
    EXPECT_FALSE(m_Hid.DevicePresent());
}

TEST_F(DeviceWaitTest, AStopRequestEndsIt) {
    EXPECT_EQ(Wait(kHangGuard, [&] { m_bStop.store(true); }), DeviceWaitResult::Interrupted);
}

TEST_F(DeviceWaitTest, ASystemWithoutNoticesCannotWait) {
    EXPECT_EQ(WaitForUpdatableDevice(m_Hid, nullptr, kHangGuard, m_bStop, {}),
              DeviceWaitResult::CannotWait);
}

}  // namespace
}  // namespace tarvex
