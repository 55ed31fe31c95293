#pragma once
// --wait: the terminal program started before the device was plugged in waits for it. It
// listens to the device notices (the source's WaitForNotices) and detects again only
// when notices came, so an idle wait costs nothing and no loop re-scans the devices.
//
// Threads: runs on the caller's thread (the program's main thread, before the engine starts).

#include <atomic>
#include <chrono>
#include <functional>

#include "hid/Hid.h"
#include "platform/DeviceNoticeSource.h"

namespace tarvex {

enum class DeviceWaitResult {
    Found,        // an updatable device is attached (either kind)
    Locked,       // the update device is attached, but this user may not open it
    TimedOut,     // the limit passed with nothing attached
    Interrupted,  // stopRequested became true
    CannotWait,   // no notice source: nothing would ever say that a device came
};

const char* ToString(DeviceWaitResult result);

// Detects at once; while nothing is attached, waits for notices from `notices` (registered for
// HID notices by the first detection) and detects again after each batch of them. `limit` of
// zero waits without limit. `onWaiting` is called once, when the waiting begins.
DeviceWaitResult WaitForUpdatableDevice(CHid& hid, CDeviceNoticeSource* notices,
                                        std::chrono::milliseconds limit,
                                        const std::atomic<bool>& stopRequested,
                                        const std::function<void()>& onWaiting = {});

}  // namespace tarvex
