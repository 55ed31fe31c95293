#pragma once
// One program per device. Two programs writing to one device at once (a second window opened by
// mistake, a script started beside the window) interleave their reports and leave the device
// half-written. Every program takes the device's lock before it writes anything to the device,
// holds it for as long as it writes, and does not write when another program holds it.
//
// The lock belongs to the process, not to one connection: within a program, the version query
// and the update run share it, so that a program never locks itself out. Another program's lock
// ends when that program lets it go or ends, however it ends.

#include <memory>
#include <string>

namespace tarvex {

// A held lock; destroying it lets the lock go (the last holder in the process does). May be
// destroyed on any thread.
class CDeviceLock {
public:
    virtual ~CDeviceLock() = default;
};

enum class DeviceLockError {
    None,
    Busy,         // another program holds it: write nothing
    Unavailable,  // this system cannot lock this device (gone, no access, not a device node):
                  // the lock cannot help, and the caller goes on without it
};

struct DeviceLockResult {
    std::unique_ptr<CDeviceLock> Lock;  // null unless Error is None
    DeviceLockError Error = DeviceLockError::None;
    std::string Message;  // the system's own words, for traces
    bool Held() const { return Lock != nullptr; }
};

const char* ToString(DeviceLockError error);

// A holder of a lock that every holder within one process shares: `lock` is what keeps the
// system's lock (an open file, a handle) and lets it go once the last holder is destroyed.
std::unique_ptr<CDeviceLock> ShareDeviceLock(std::shared_ptr<const void> lock);

// Threads: TryLock may be called from any thread, also from several at once. It never waits
// for another program.
class CDeviceLocks {
public:
    virtual ~CDeviceLocks() = default;

    // Takes the lock of the device named `device` as the platform's lists name it: an HID
    // interface's path (CHidPort) or a USB device's system path (CUsbDeviceList). Succeeds
    // while this process already holds it, sharing that lock.
    virtual DeviceLockResult TryLock(const std::string& device) = 0;
};

}  // namespace tarvex
