// Device notices registered on the window's own dialog: the dialog hands each WM_DEVICECHANGE to
// the source, which queues what it means to the engine. Wine raises no device events without
// devices, so the test calls the source with the records the system would pass, on a
// message-only window standing in for the dialog.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinDialogDeviceNotices.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::chrono::milliseconds kNow{0};

DEV_BROADCAST_DEVICEINTERFACE_W Record(const GUID& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_W record{};
    record.dbcc_size = sizeof(record);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = interfaceClass;
    return record;
}

class WinDialogDeviceNoticesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hWindow = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_hWindow, nullptr);
    }
    void TearDown() override {
        m_Notices.Detach();
        if (m_hWindow != nullptr) {
            ::DestroyWindow(m_hWindow);
        }
    }

    // The plug-and-play service may still be starting: the dialog asks again until it takes.
    bool Attach() {
        bool registered = m_Notices.Attach(m_hWindow);
        for (int attempt = 0; attempt < 100 && !registered; ++attempt) {
            ::Sleep(100);
            registered = m_Notices.RetryUsbRegistration();
        }
        return registered;
    }

    bool Change(WPARAM event, const GUID& interfaceClass) {
        auto record = Record(interfaceClass);
        return m_Notices.OnDeviceChange(event, reinterpret_cast<LPARAM>(&record));
    }

    HWND m_hWindow = nullptr;
    CWinDialogDeviceNotices m_Notices;
};

TEST_F(WinDialogDeviceNoticesTest, NothingIsQueuedBeforeTheDialogIsAttached) {
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::Unavailable);
    EXPECT_FALSE(Change(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass));
    EXPECT_FALSE(m_Notices.OnDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_THAT(m_Notices.TakeNotices(), IsEmpty());
}

TEST_F(WinDialogDeviceNoticesTest, UsbDevicesAndTheTreeBroadcastChangeTheTree) {
    ASSERT_TRUE(Attach());
    EXPECT_EQ(m_Notices.NoticeFd(), -1);
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::TimedOut);

    EXPECT_TRUE(Change(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass));
    // A top-level dialog also gets the system's own tree-changed broadcast, with no record.
    EXPECT_TRUE(m_Notices.OnDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_TRUE(Change(DBT_DEVICEREMOVECOMPLETE, kUsbDeviceInterfaceClass));
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::Waiting);
    // One plug sets off several tree events; the engine answers each with the same detection.
    EXPECT_THAT(m_Notices.TakeNotices(), ElementsAre(kDeviceNodesChanged));
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::TimedOut);
}

TEST_F(WinDialogDeviceNoticesTest, HidInterfacesCountOnlyWhileRegistered) {
    ASSERT_TRUE(Attach());
    EXPECT_FALSE(Change(DBT_DEVICEARRIVAL, HidInterfaceClass()))
        << "not registered yet: the HID arrival is nobody's business";

    ASSERT_TRUE(m_Notices.RegisterHidNotices());
    EXPECT_TRUE(Change(DBT_DEVICEARRIVAL, HidInterfaceClass()));
    EXPECT_FALSE(Change(DBT_DEVICEQUERYREMOVE, HidInterfaceClass()));
    EXPECT_TRUE(Change(DBT_DEVICEREMOVECOMPLETE, HidInterfaceClass()));
    EXPECT_THAT(m_Notices.TakeNotices(), ElementsAre(kDeviceArrival, kDeviceRemoveComplete));

    m_Notices.UnregisterHidNotices();
    EXPECT_FALSE(Change(DBT_DEVICEARRIVAL, HidInterfaceClass()));
    EXPECT_THAT(m_Notices.TakeNotices(), IsEmpty());
}

TEST_F(WinDialogDeviceNoticesTest, DetachingDropsWhatWaitsAndTakesNoMore) {
    ASSERT_TRUE(Attach());
    ASSERT_TRUE(Change(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass));
    m_Notices.Detach();
    EXPECT_FALSE(m_Notices.UsbNoticesRegistered());
    EXPECT_FALSE(Change(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass));
    EXPECT_FALSE(m_Notices.RegisterHidNotices());
    EXPECT_THAT(m_Notices.TakeNotices(), IsEmpty());
    EXPECT_EQ(m_Notices.WaitForNotices(kNow), NoticeWait::Unavailable);
}

}  // namespace
}  // namespace tarvex
