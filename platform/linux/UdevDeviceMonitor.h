#pragma once
// Device-change notices on Linux, from libudev monitors:
//   hidraw node added    -> HID interface arrived (once registered)
//   hidraw node removed  -> HID interface removed (once registered)
//   any event of a USB device or interface (add, remove, change, bind, ...) -> tree changed
//   a receive buffer that overflowed (events lost) -> tree changed, so that the window looks
//   at the devices again
//
// Both netlink sources are listened to, the kernel's and udevd's, and merged by CUeventMerger:
// udevd's copy of an event is the one acted on when udevd's copies arrive here, the kernel's
// when they do not (see UeventMerger.h). One descriptor (an epoll set of both sockets and a
// timer for the kernel copies held back) stands for all of it.
//
// Threads: NoticeFd and TakeNotices on the window's thread; the registration calls on any.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/DeviceNoticeSource.h"
#include "platform/linux/UeventMerger.h"

namespace tarvex {

inline constexpr const char* kUdevdControlSocket = "/run/udev/control";
// What each socket is asked to buffer (the kernel grants up to its own limit without
// privilege); a burst of events beyond it is lost, which the monitor reports as a tree change.
inline constexpr int kNoticeReceiveBufferBytes = 128 * 1024 * 1024;

// The notice one event gives, if any.
std::optional<std::uint32_t> NoticeForUevent(std::string_view subsystem, std::string_view action,
                                             bool bHidNoticesRegistered);

class CUdevDeviceMonitor final : public CDeviceNoticeSource {
public:
    // Where udevd's control socket is not, no udevd runs on this machine and the kernel's events
    // are delivered at once; where it is, udevd's copies are waited for (briefly) until it shows
    // whether they arrive.
    explicit CUdevDeviceMonitor(const std::filesystem::path& udevdControl = kUdevdControlSocket,
                                int receiveBufferBytes = kNoticeReceiveBufferBytes);
    ~CUdevDeviceMonitor() override;
    CUdevDeviceMonitor(const CUdevDeviceMonitor&) = delete;
    CUdevDeviceMonitor& operator=(const CUdevDeviceMonitor&) = delete;

    // False when no monitor could be set up (then NoticeFd is -1).
    bool Listening() const;
    // Whose events are delivered as they come, as far as the events so far tell.
    UeventSource Source() const;

    int NoticeFd() const override;
    NoticeWait WaitForNotices(std::chrono::milliseconds timeout) override;
    std::vector<std::uint32_t> TakeNotices() override;
    bool RegisterHidNotices() override;
    void UnregisterHidNotices() override;

private:
    struct Handles;

    void Receive(UeventOrigin origin);
    void ArmTimer();

    std::unique_ptr<Handles> m_pHandles;  // null when not listening
    std::atomic<bool> m_bHidNoticesRegistered{false};
};

}  // namespace tarvex
