// The Windows factories: every service is there, the notice source listens, and the user's
// copy of 1.dat is kept in the user's local data, never beside the program.

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/SystemServices.h"
#include "platform/windows/WinDeviceNotices.h"

namespace tarvex {
namespace {

TEST(WinSystem, TheFactoriesHandOutTheWindowsBackends) {
    const SystemServices services = CreateSystemServices();
    ASSERT_TRUE(services.HidPort && services.UsbDevices && services.DeviceNotices);
    const auto* notices = dynamic_cast<const CWinDeviceNotices*>(services.DeviceNotices.get());
    ASSERT_NE(notices, nullptr);
    EXPECT_TRUE(notices->Listening());
    EXPECT_NE(services.DeviceNotices->WaitForNotices(std::chrono::milliseconds(0)),
              NoticeWait::Unavailable);

    EXPECT_EQ(CreateUiLanguage()->UserDefaultUiLanguage(), ::GetUserDefaultUILanguage());

    const FileSystemServices files = CreateFileSystemServices();
    ASSERT_TRUE(files.Volumes && files.FileWriter);
    ASSERT_TRUE(files.StagingFolder.is_absolute());
    EXPECT_EQ(files.StagingFolder.filename(), "tarvex-update");
    EXPECT_EQ(files.StagingFolder.parent_path().filename(), "Local")
        << "the user's local application data, never beside the program";
}

}  // namespace
}  // namespace tarvex
