// The Windows notice source: its message-only window turns WM_DEVICECHANGE into the engine's
// notices on a thread of its own, and the waiting side wakes for them. Wine raises no device
// events without devices, so the test hands the window the messages the system would send.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <thread>

#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinDeviceNotices.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::chrono::milliseconds kNow{0};
// Bound for a wait that another thread ends; a guard against hangs, not a measurement.
constexpr std::chrono::milliseconds kHangGuard{20'000};

void SendDeviceChange(HWND window, WPARAM event, const GUID& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_W record{};
    record.dbcc_size = sizeof(record);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = interfaceClass;
    ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
}

class WinDeviceNoticesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Notices.Listening()); }

    CWinDeviceNotices m_Notices;
};

TEST_F(WinDeviceNoticesTest, UsbDevicesChangeTheTreeAndHidInterfacesCountOnceRegistered) {
    const HWND window = m_Notices.NoticeWindow();
    EXPECT_EQ(m_Notices.NoticeFd(), -1);
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::TimedOut);

    SendDeviceChange(window, DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, HidInterfaceClass());
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::Waiting);
    EXPECT_THAT(m_Notices.TakeNotices(), ElementsAre(kDeviceNodesChanged))
        << "not registered yet: the HID arrival is nobody's business";
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::TimedOut);

    ASSERT_TRUE(m_Notices.RegisterHidNotices());
    EXPECT_TRUE(m_Notices.HidNoticesRegistered());
    SendDeviceChange(window, DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, HidInterfaceClass());
    SendDeviceChange(window, DBT_DEVICEQUERYREMOVE, HidInterfaceClass());
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, HidInterfaceClass());
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, kUsbDeviceInterfaceClass);
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, kUsbDeviceInterfaceClass);
    EXPECT_THAT(m_Notices.TakeNotices(), ElementsAre(kDeviceNodesChanged, kDeviceArrival,
                                                     kDeviceRemoveComplete, kDeviceNodesChanged))
        << "in order, a repeated tree change once";

    m_Notices.UnregisterHidNotices();
    EXPECT_FALSE(m_Notices.HidNoticesRegistered());
    SendDeviceChange(window, DBT_DEVICEARRIVAL, HidInterfaceClass());
    EXPECT_THAT(m_Notices.TakeNotices(), IsEmpty());
}

TEST_F(WinDeviceNoticesTest, ANoticeFromTheSystemWakesTheWaitingThread) {
    std::thread system([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Posted notices arrive like the system's own: on the window's thread, later.
        ::PostMessageW(m_Notices.NoticeWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    });
    EXPECT_EQ(m_Notices.WaitForNotices(kHangGuard), NoticeWait::Waiting);
    system.join();
    EXPECT_THAT(m_Notices.TakeNotices(), ElementsAre(kDeviceNodesChanged));
}

TEST(WinDeviceNotices, SeveralSourcesLiveAndEndInOneProcess) {
    for (int i = 0; i < 3; ++i) {
        CWinDeviceNotices first;
        CWinDeviceNotices second;
        EXPECT_TRUE(first.Listening());
        EXPECT_TRUE(second.Listening());
        EXPECT_NE(first.NoticeWindow(), second.NoticeWindow());
        EXPECT_TRUE(second.RegisterHidNotices());
    }
}

}  // namespace
}  // namespace tarvex
