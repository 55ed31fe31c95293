#pragma once
// Device-change notices as the window receives them: the device tree changed, an HID interface
// arrived, an HID interface was removed. A backend turns what its system reports into these
// three event types (the udev monitor on Linux, the virtual source in sim/).
//
// Threads: NoticeFd, WaitForNotices and TakeNotices belong to the window's thread, which waits
// for notices (on the descriptor in its event loop, or in WaitForNotices) and takes them when
// they are there. RegisterHidNotices and UnregisterHidNotices come from CHid, on whichever
// thread runs a detection; an implementation makes them safe against a concurrent TakeNotices.

#include <chrono>
#include <cstdint>
#include <vector>

namespace tarvex {

// Event types, numbered as the window's device-change handler has always known them.
inline constexpr std::uint32_t kDeviceNodesChanged = 7;
inline constexpr std::uint32_t kDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;

// Adds `notice` to a batch being collected. A tree-changed notice right behind another one is
// dropped: one plug or unplug sets off several tree events in a row, and the window answers
// each with the same detection. Every other notice is kept, in order.
inline void AppendNotice(std::vector<std::uint32_t>& batch, std::uint32_t notice) {
    if (notice == kDeviceNodesChanged && !batch.empty() && batch.back() == kDeviceNodesChanged) {
        return;
    }
    batch.push_back(notice);
}

// What a wait for notices found.
enum class NoticeWait {
    Waiting,      // notices are waiting: TakeNotices has them
    TimedOut,     // none came within the time (or the wait was interrupted by a signal)
    Unavailable,  // this source cannot deliver any notice, so waiting is pointless
};

class CDeviceNoticeSource {
public:
    virtual ~CDeviceNoticeSource() = default;

    // For event loops that wait on descriptors (POSIX): one that polls readable (POLLIN) while
    // notices are waiting; -1 when this source cannot deliver any (then TakeNotices stays
    // empty), and on systems whose notices do not come through a descriptor (Windows), where a
    // loop uses WaitForNotices. The source owns it.
    virtual int NoticeFd() const = 0;

    // Waits at most `timeout` (0: not at all) until notices are waiting, without taking them.
    virtual NoticeWait WaitForNotices(std::chrono::milliseconds timeout) = 0;

    // Every notice waiting, oldest first; never blocks. Leaves the descriptor unreadable until
    // the next notice comes.
    virtual std::vector<std::uint32_t> TakeNotices() = 0;

    // From now on also deliver HID interface arrivals and removals; tree-changed notices flow
    // from the start. Returns whether the registration took.
    virtual bool RegisterHidNotices() = 0;
    // Withdraws a registration that took.
    virtual void UnregisterHidNotices() = 0;
};

}  // namespace tarvex
