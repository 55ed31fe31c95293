#include "sim/VirtualDeviceNotices.h"

namespace tarvex::sim {

void CVirtualDeviceNotices::QueueLocked(std::uint32_t eventType) {
    AppendNotice(m_Pending, eventType);
    m_Signal.Raise();
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
    return m_Signal.Fd();
}

NoticeWait CVirtualDeviceNotices::WaitForNotices(std::chrono::milliseconds timeout) {
    return m_Signal.Wait(timeout);
}

std::vector<std::uint32_t> CVirtualDeviceNotices::TakeNotices() {
    std::lock_guard lock(m_Lock);
    m_Signal.Clear();
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
