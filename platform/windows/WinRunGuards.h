#pragma once
// A run's guards on Windows.
//
// The device lock is a named kernel object per device, in the Global namespace so that every
// session on the machine sees it. The object exists exactly as long as some process holds a
// handle to it, and the system closes a process's handles however it ends, so there is no stale
// lock after a crash. A program that creates the object holds the lock; one that finds it there
// already (or may not open it: another user's) leaves the device alone. Within one program the
// object is created once and shared by every holder, as the Linux backend shares its flock.
//
// The sleep block is a power request (PowerCreateRequest, PowerSetRequest with
// PowerRequestSystemRequired), which keeps the system out of sleep while its handle is open;
// `powercfg /requests` shows it with the reason.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/DeviceLock.h"
#include "platform/SleepInhibitor.h"

namespace tarvex {

// The name of the lock object of the device at `devicePath` (an HID interface's or a USB
// device's path as the lists give it). Windows compares those paths without regard to case, so
// the name does too.
std::wstring DeviceLockObjectName(std::string_view devicePath);

class CWinDeviceLocks final : public CDeviceLocks {
public:
    DeviceLockResult TryLock(const std::string& device) override;

private:
    std::mutex m_Lock;
    std::map<std::wstring, std::weak_ptr<const void>> m_Held;  // handles, by object name
};

class CWinSleepInhibitor final : public CSleepInhibitor {
public:
    // `who` is not passed on: Windows names the program by its executable.
    SleepBlockResult BlockSleep(const std::string& who, const std::string& why) override;
};

}  // namespace tarvex
