#include "platform/linux/UdevDeviceMonitor.h"

#include <system_error>

#include "platform/linux/PollWait.h"
#include "platform/linux/UdevHandles.h"

namespace tarvex {

struct CUdevDeviceMonitor::Handles {
    UdevContextPtr Context;
    UdevMonitorPtr Monitor;
};

namespace {

const char* NetlinkName(UeventSource source) {
    return source == UeventSource::Kernel ? "kernel" : "udev";
}

}  // namespace

UeventSource ResolveUeventSource(UeventSource requested, bool bUdevdRunning) {
    if (requested != UeventSource::Automatic) {
        return requested;
    }
    return bUdevdRunning ? UeventSource::Udev : UeventSource::Kernel;
}

std::optional<std::uint32_t> NoticeForUevent(std::string_view subsystem, std::string_view action,
                                             bool bHidNoticesRegistered) {
    if (action.empty()) {
        return std::nullopt;
    }
    if (subsystem == "usb") {
        return kDeviceNodesChanged;
    }
    if (subsystem == "hidraw" && bHidNoticesRegistered) {
        if (action == "add") {
            return kDeviceArrival;
        }
        if (action == "remove") {
            return kDeviceRemoveComplete;
        }
    }
    return std::nullopt;
}

CUdevDeviceMonitor::CUdevDeviceMonitor(UeventSource source,
                                       const std::filesystem::path& udevdControl) {
    std::error_code error;
    m_Source = ResolveUeventSource(source, std::filesystem::exists(udevdControl, error));

    auto handles = std::make_unique<Handles>();
    handles->Context.reset(udev_new());
    if (!handles->Context) {
        return;
    }
    handles->Monitor.reset(
        udev_monitor_new_from_netlink(handles->Context.get(), NetlinkName(m_Source)));
    udev_monitor* monitor = handles->Monitor.get();
    // The filters run in the kernel for udevd's events, so unrelated devices never wake the
    // window; for the kernel's own events libudev applies them while receiving.
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
        return;
    }
    m_pHandles = std::move(handles);
}

CUdevDeviceMonitor::~CUdevDeviceMonitor() = default;

bool CUdevDeviceMonitor::Listening() const {
    return m_pHandles != nullptr;
}

int CUdevDeviceMonitor::NoticeFd() const {
    return m_pHandles ? udev_monitor_get_fd(m_pHandles->Monitor.get()) : -1;
}

NoticeWait CUdevDeviceMonitor::WaitForNotices(std::chrono::milliseconds timeout) {
    return WaitUntilReadable(NoticeFd(), timeout);
}

std::vector<std::uint32_t> CUdevDeviceMonitor::TakeNotices() {
    std::vector<std::uint32_t> notices;
    if (!m_pHandles) {
        return notices;
    }
    // The monitor's socket does not block: receiving returns null once it is drained.
    for (;;) {
        const UdevDevicePtr device(udev_monitor_receive_device(m_pHandles->Monitor.get()));
        if (!device) {
            break;
        }
        const char* subsystem = udev_device_get_subsystem(device.get());
        const char* action = udev_device_get_action(device.get());
        const auto notice =
            NoticeForUevent(subsystem != nullptr ? subsystem : "", action != nullptr ? action : "",
                            m_bHidNoticesRegistered.load());
        if (notice) {
            AppendNotice(notices, *notice);
        }
    }
    return notices;
}

bool CUdevDeviceMonitor::RegisterHidNotices() {
    if (!m_pHandles) {
        return false;
    }
    m_bHidNoticesRegistered.store(true);
    return true;
}

void CUdevDeviceMonitor::UnregisterHidNotices() {
    m_bHidNoticesRegistered.store(false);
}

}  // namespace tarvex
