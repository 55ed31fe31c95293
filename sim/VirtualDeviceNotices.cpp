#include "sim/VirtualDeviceNotices.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarvex::sim {

CVirtualDeviceNotices::CVirtualDeviceNotices() {
    if (::pipe2(m_PipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        m_PipeFds[0] = m_PipeFds[1] = -1;
    }
}

CVirtualDeviceNotices::~CVirtualDeviceNotices() {
    for (const int fd : m_PipeFds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void CVirtualDeviceNotices::QueueLocked(std::uint32_t eventType) {
    const bool wasEmpty = m_Pending.empty();
    AppendNotice(m_Pending, eventType);
    if (wasEmpty && m_PipeFds[1] >= 0) {
        const char wake = 1;
        // One byte marks "something waits"; the pipe cannot be full with a single byte in it.
        [[maybe_unused]] const auto written = ::write(m_PipeFds[1], &wake, 1);
    }
}

void CVirtualDeviceNotices::HidDevicePlugged() {
    std::lock_guard lock(m_Lock);
    QueueLocked(kDeviceNodesChanged);
    if (m_bRegistered) {
        QueueLocked(kDeviceArrival);
    }
}

void CVirtualDeviceNotices::HidDeviceUnplugged() {
    std::lock_guard lock(m_Lock);
    if (m_bRegistered) {
        QueueLocked(kDeviceRemoveComplete);
    }
    QueueLocked(kDeviceNodesChanged);
}

void CVirtualDeviceNotices::UsbDeviceChanged() {
    std::lock_guard lock(m_Lock);
    QueueLocked(kDeviceNodesChanged);
}

void CVirtualDeviceNotices::Raise(std::uint32_t eventType) {
    std::lock_guard lock(m_Lock);
    QueueLocked(eventType);
}

void CVirtualDeviceNotices::RefuseRegistration(bool refuse) {
    std::lock_guard lock(m_Lock);
    m_bRefuseRegistration = refuse;
}

std::size_t CVirtualDeviceNotices::RegistrationAttempts() const {
    std::lock_guard lock(m_Lock);
    return m_RegistrationAttempts;
}

bool CVirtualDeviceNotices::HidNoticesRegistered() const {
    std::lock_guard lock(m_Lock);
    return m_bRegistered;
}

int CVirtualDeviceNotices::NoticeFd() const {
    return m_PipeFds[0];
}

std::vector<std::uint32_t> CVirtualDeviceNotices::TakeNotices() {
    std::lock_guard lock(m_Lock);
    char drained = 0;
    while (m_PipeFds[0] >= 0 && ::read(m_PipeFds[0], &drained, 1) == 1) {
    }
    std::vector<std::uint32_t> notices;
    notices.swap(m_Pending);
    return notices;
}

bool CVirtualDeviceNotices::RegisterHidNotices() {
    std::lock_guard lock(m_Lock);
    ++m_RegistrationAttempts;
    m_bRegistered = !m_bRefuseRegistration;
    return m_bRegistered;
}

void CVirtualDeviceNotices::UnregisterHidNotices() {
    std::lock_guard lock(m_Lock);
    m_bRegistered = false;
}

}  // namespace tarvex::sim
