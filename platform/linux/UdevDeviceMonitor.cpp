#include "platform/linux/UdevDeviceMonitor.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/linux/PollWait.h"
#include "platform/linux/ScopedFd.h"
#include "platform/linux/UdevHandles.h"

namespace tarvex {

struct CUdevDeviceMonitor::Handles {
    UdevContextPtr Context;
    UdevMonitorPtr KernelMonitor;  // either monitor may be missing, not both
    UdevMonitorPtr UdevdMonitor;
    CScopedFd Timer;  // falls due when a held-back kernel copy does
    CScopedFd Epoll;  // the one descriptor the window waits on
    CUeventMerger Merger;

    explicit Handles(bool udevdMayRun) : Merger(udevdMayRun) {}
};

namespace {

// Events taken from one socket per TakeNotices at most; whatever is left keeps the descriptor
// readable, so a socket that never runs dry cannot hold the window's thread.
constexpr int kMostEventsPerTake = 4096;

UdevMonitorPtr MakeMonitor(udev* context, const char* source, int receiveBufferBytes) {
    UdevMonitorPtr monitor(udev_monitor_new_from_netlink(context, source));
    if (!monitor) {
        return {};
    }
    // Without privilege the kernel grants up to its limit instead; that is still the most it
    // allows, so a failure here is not one.
    udev_monitor_set_receive_buffer_size(monitor.get(), receiveBufferBytes);
    // The filters run in the kernel for udevd's events, so unrelated devices never wake the
    // window; for the kernel's own events libudev applies them while receiving.
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0 ||
        udev_monitor_get_fd(monitor.get()) < 0) {
        return {};
    }
    return monitor;
}

bool Watch(int epoll, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

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

CUdevDeviceMonitor::CUdevDeviceMonitor(const std::filesystem::path& udevdControl,
                                       int receiveBufferBytes) {
    std::error_code error;
    auto handles = std::make_unique<Handles>(std::filesystem::exists(udevdControl, error));
    handles->Context.reset(udev_new());
    if (!handles->Context) {
        return;
    }
    handles->KernelMonitor = MakeMonitor(handles->Context.get(), "kernel", receiveBufferBytes);
    handles->UdevdMonitor = MakeMonitor(handles->Context.get(), "udev", receiveBufferBytes);
    handles->Timer.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    handles->Epoll.Reset(::epoll_create1(EPOLL_CLOEXEC));
    if ((!handles->KernelMonitor && !handles->UdevdMonitor) || !handles->Timer.Valid() ||
        !handles->Epoll.Valid() || !Watch(handles->Epoll.Get(), handles->Timer.Get())) {
        return;
    }
    for (auto* monitor : {handles->KernelMonitor.get(), handles->UdevdMonitor.get()}) {
        if (monitor != nullptr && !Watch(handles->Epoll.Get(), udev_monitor_get_fd(monitor))) {
            return;
        }
    }
    m_pHandles = std::move(handles);
}

CUdevDeviceMonitor::~CUdevDeviceMonitor() = default;

bool CUdevDeviceMonitor::Listening() const {
    return m_pHandles != nullptr;
}

UeventSource CUdevDeviceMonitor::Source() const {
    return m_pHandles ? m_pHandles->Merger.Source() : UeventSource::Unknown;
}

int CUdevDeviceMonitor::NoticeFd() const {
    return m_pHandles ? m_pHandles->Epoll.Get() : -1;
}

NoticeWait CUdevDeviceMonitor::WaitForNotices(std::chrono::milliseconds timeout) {
    return WaitUntilReadable(NoticeFd(), timeout);
}

void CUdevDeviceMonitor::Receive(UeventOrigin origin) {
    udev_monitor* monitor = origin == UeventOrigin::Kernel ? m_pHandles->KernelMonitor.get()
                                                           : m_pHandles->UdevdMonitor.get();
    if (monitor == nullptr) {
        return;
    }
    // The socket does not block: receiving returns null once it is drained.
    for (int taken = 0; taken < kMostEventsPerTake; ++taken) {
        errno = 0;
        const UdevDevicePtr device(udev_monitor_receive_device(monitor));
        if (!device) {
            if (errno == ENOBUFS) {
                // The kernel dropped events that did not fit; which ones is unknown.
                m_pHandles->Merger.AddLost();
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            // Drained (EAGAIN). A message that could not be read was taken off all the same;
            // the next ones are not lost with it.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == 0) {
                return;
            }
            continue;
        }
        const char* subsystem = udev_device_get_subsystem(device.get());
        const char* action = udev_device_get_action(device.get());
        m_pHandles->Merger.Add(
            origin, udev_device_get_seqnum(device.get()),
            NoticeForUevent(subsystem != nullptr ? subsystem : "", action != nullptr ? action : "",
                            m_bHidNoticesRegistered.load()),
            CUeventMerger::Clock::now());
    }
}

void CUdevDeviceMonitor::ArmTimer() {
    itimerspec when{};  // all zero: disarmed
    if (const auto due = m_pHandles->Merger.NextDue()) {
        // steady_clock is CLOCK_MONOTONIC, the timer's clock.
        const auto sinceBoot = due->time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceBoot);
        when.it_value.tv_sec = seconds.count();
        when.it_value.tv_nsec =
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceBoot - seconds).count();
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) {
            when.it_value.tv_nsec = 1;  // zero would disarm it
        }
    }
    ::timerfd_settime(m_pHandles->Timer.Get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

std::vector<std::uint32_t> CUdevDeviceMonitor::TakeNotices() {
    if (!m_pHandles) {
        return {};
    }
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t cleared =
        ::read(m_pHandles->Timer.Get(), &expirations, sizeof expirations);
    // The kernel's copies first: one whose udevd copy is read in the same call is then dropped
    // as it should be, rather than kept waiting for a copy that already came.
    Receive(UeventOrigin::Kernel);
    Receive(UeventOrigin::Udevd);
    auto notices = m_pHandles->Merger.Take(CUeventMerger::Clock::now());
    ArmTimer();
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
