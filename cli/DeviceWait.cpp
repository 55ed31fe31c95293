#include "cli/DeviceWait.h"

#include <algorithm>
#include <optional>

namespace tarvex {

namespace {

using Clock = std::chrono::steady_clock;

// A signal handler cannot wake the wait reliably (it may run on another thread, or just before
// the wait starts), so the stop flag is looked at between slices of this length.
constexpr std::chrono::milliseconds kStopCheckSlice{250};

std::optional<DeviceWaitResult> Detect(CHid& hid) {
    if (hid.DetectDevice()) {
        return DeviceWaitResult::Found;
    }
    if (hid.UpdateDeviceOpenError() == HidOpenError::PermissionDenied) {
        return DeviceWaitResult::Locked;
    }
    return std::nullopt;
}

}  // namespace

const char* ToString(DeviceWaitResult result) {
    switch (result) {
        case DeviceWaitResult::Found:
            return "found";
        case DeviceWaitResult::Locked:
            return "found, not accessible";
        case DeviceWaitResult::TimedOut:
            return "timed out";
        case DeviceWaitResult::Interrupted:
            return "interrupted";
        case DeviceWaitResult::CannotWait:
            return "cannot wait";
    }
    return "unknown";
}

DeviceWaitResult WaitForUpdatableDevice(CHid& hid, CDeviceNoticeSource* notices,
                                        std::chrono::milliseconds limit,
                                        const std::atomic<bool>& stopRequested,
                                        const std::function<void()>& onWaiting) {
    if (const auto found = Detect(hid)) {
        return *found;
    }
    if (notices == nullptr ||
        notices->WaitForNotices(std::chrono::milliseconds(0)) == NoticeWait::Unavailable) {
        return DeviceWaitResult::CannotWait;
    }
    // The first detection registered for HID notices after its search; a device that came in
    // between announced itself to nobody, so look once more now that notices flow.
    if (const auto found = Detect(hid)) {
        return *found;
    }
    if (onWaiting) {
        onWaiting();
    }
    const auto deadline = limit.count() > 0 ? Clock::now() + limit : Clock::time_point::max();
    for (;;) {
        if (stopRequested.load()) {
            return DeviceWaitResult::Interrupted;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return DeviceWaitResult::TimedOut;
        }
        const auto slice = deadline == Clock::time_point::max()
                               ? kStopCheckSlice
                               : std::min<std::chrono::milliseconds>(
                                     kStopCheckSlice,
                                     std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        const NoticeWait waited = notices->WaitForNotices(slice);
        if (waited == NoticeWait::Unavailable) {
            return DeviceWaitResult::CannotWait;
        }
        if (waited == NoticeWait::TimedOut) {
            continue;
        }
        // Whatever the notices say, one detection answers whether the device is here now.
        if (notices->TakeNotices().empty()) {
            continue;
        }
        if (const auto found = Detect(hid)) {
            return *found;
        }
    }
}

}  // namespace tarvex
