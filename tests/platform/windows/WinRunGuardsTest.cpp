// A run's guards on Windows: the device lock against another program holding the device's
// object, and the sleep block through a power request.

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/SystemServices.h"
#include "platform/windows/WinRunGuards.h"

namespace tarvex {
namespace {

constexpr const char* kDevice =
    R"(\\?\hid#vid_3a7e&pid_6a11#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";

constexpr const char* kOtherDevice =
    R"(\\?\hid#vid_3a7e&pid_6a11#7&5e6f7a8b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";

// What another program that updates the device holds: the device's object, created by it.
HANDLE HoldAsAnotherProgram(const std::string& device) {
    return ::CreateEventW(nullptr, TRUE, FALSE, DeviceLockObjectName(device).c_str());
}

TEST(WinDeviceLocks, OneProgramSharesItsLockAndLetsItGoWithTheLastHolder) {
    CWinDeviceLocks locks;
    DeviceLockResult first = locks.TryLock(kDevice);
    ASSERT_TRUE(first.Held()) << first.Message;
    DeviceLockResult second = locks.TryLock(kDevice);
    EXPECT_TRUE(second.Held()) << "the version query and the run of one program share the lock";

    first.Lock.reset();
    HANDLE other = HoldAsAnotherProgram(kDevice);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "a holder is left, so the lock must still be there";
    ::CloseHandle(other);

    second.Lock.reset();
    other = HoldAsAnotherProgram(kDevice);
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "the last holder has gone, so the lock must be free";
    ::CloseHandle(other);
}

TEST(WinDeviceLocks, ADeviceAnotherProgramHoldsIsBusyUntilItLetsGo) {
    HANDLE other = HoldAsAnotherProgram(kDevice);
    ASSERT_NE(other, nullptr);
    CWinDeviceLocks locks;
    const DeviceLockResult refused = locks.TryLock(kDevice);
    EXPECT_EQ(refused.Error, DeviceLockError::Busy);
    EXPECT_FALSE(refused.Held());

    // Windows compares device paths without regard to case: so does the lock.
    std::string upper = kDevice;
    for (char& c : upper) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    EXPECT_EQ(locks.TryLock(upper).Error, DeviceLockError::Busy);
    EXPECT_TRUE(locks.TryLock(kOtherDevice).Held()) << "another device is free";

    ::CloseHandle(other);
    EXPECT_TRUE(locks.TryLock(kDevice).Held());
}

TEST(WinDeviceLocks, OnlyTheSystemsOwnDeviceNamesAreLocked) {
    CWinDeviceLocks locks;
    const DeviceLockResult result = locks.TryLock("virtual:hid-update-device");
    EXPECT_EQ(result.Error, DeviceLockError::Unavailable);
    EXPECT_FALSE(result.Held());
    // A drive-mode device is named by its USB instance ID.
    EXPECT_TRUE(locks.TryLock(R"(USB\VID_3A7E&PID_6A01\5&2C1A9F3&0&2)").Held());
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(WinSleepInhibitor, APowerRequestIsTakenForTheRunOrRefusedWithTheReason) {
    const RunGuardSystemServices guards = CreateRunGuardServices();
    ASSERT_TRUE(guards.DeviceLocks && guards.SleepInhibitor);
    SleepBlockResult block = guards.SleepInhibitor->BlockSleep("Tarvex Update", "Updating");
    if (RunningUnderWine()) {
        // Wine has PowerCreateRequest as a stub that fails: the refusal must come back as one,
        // with the system's words, so that the run goes on without a block.
        EXPECT_EQ(block.Error, SleepBlockError::Refused);
        EXPECT_FALSE(block.Held());
        EXPECT_FALSE(block.Message.empty());
    } else {
        EXPECT_EQ(block.Error, SleepBlockError::None) << block.Message;
        EXPECT_TRUE(block.Held());
    }
}

}  // namespace
}  // namespace tarvex
