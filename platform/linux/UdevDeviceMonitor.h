#pragma once
// Device-change notices on Linux, from a libudev monitor:
//   hidraw node added    -> HID interface arrived (once registered)
//   hidraw node removed  -> HID interface removed (once registered)
//   any event of a USB device or interface (add, remove, change, bind, ...) -> tree changed
//
// Which netlink source: udevd re-broadcasts each kernel event once its rules have run, which is
// when a new hidraw node has the permissions the uaccess rule gives it, so "udev" is the one
// to listen to. Without udevd that source stays silent, and the kernel's own events are the
// only ones there are. The monitor picks once, at construction: "udev" when udevd's control
// socket /run/udev/control exists (libudev's own test for a running udevd), else "kernel". A
// udevd started later is not noticed; listening to both and matching their sequence numbers
// would cover that, for a case that does not arise on a desktop.
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

namespace tarvex {

enum class UeventSource { Automatic, Udev, Kernel };

inline constexpr const char* kUdevdControlSocket = "/run/udev/control";

// Automatic becomes Udev or Kernel by whether udevd runs; an explicit choice stays.
UeventSource ResolveUeventSource(UeventSource requested, bool bUdevdRunning);

// The notice one event gives, if any.
std::optional<std::uint32_t> NoticeForUevent(std::string_view subsystem, std::string_view action,
                                             bool bHidNoticesRegistered);

class CUdevDeviceMonitor final : public CDeviceNoticeSource {
public:
    explicit CUdevDeviceMonitor(UeventSource source = UeventSource::Automatic,
                                const std::filesystem::path& udevdControl = kUdevdControlSocket);
    ~CUdevDeviceMonitor() override;
    CUdevDeviceMonitor(const CUdevDeviceMonitor&) = delete;
    CUdevDeviceMonitor& operator=(const CUdevDeviceMonitor&) = delete;

    // False when the monitor could not be set up (then NoticeFd is -1).
    bool Listening() const;
    UeventSource Source() const { return m_Source; }

    int NoticeFd() const override;
    NoticeWait WaitForNotices(std::chrono::milliseconds timeout) override;
    std::vector<std::uint32_t> TakeNotices() override;
    bool RegisterHidNotices() override;
    void UnregisterHidNotices() override;

private:
    struct Handles;

    UeventSource m_Source;
    std::unique_ptr<Handles> m_pHandles;  // null when not listening
    std::atomic<bool> m_bHidNoticesRegistered{false};
};

}  // namespace tarvex
