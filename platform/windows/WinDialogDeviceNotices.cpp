#include "platform/windows/WinDialogDeviceNotices.h"

#include <dbt.h>

#include "platform/windows/DeviceChangeNotice.h"
#include "platform/windows/WinDeviceClasses.h"

namespace tarvex {

CWinDialogDeviceNotices::~CWinDialogDeviceNotices() {
    Detach();
}

bool CWinDialogDeviceNotices::Attach(HWND dialog) {
    {
        std::lock_guard lock(m_Lock);
        m_hDialog = dialog;
    }
    return RetryUsbRegistration();
}

bool CWinDialogDeviceNotices::RetryUsbRegistration() {
    std::lock_guard lock(m_Lock);
    if (m_hDialog != nullptr && m_hUsbNotify == nullptr) {
        m_hUsbNotify = RegisterForInterfaceClass(m_hDialog, kUsbDeviceInterfaceClass);
    }
    return m_hUsbNotify != nullptr;
}

bool CWinDialogDeviceNotices::UsbNoticesRegistered() const {
    std::lock_guard lock(m_Lock);
    return m_hUsbNotify != nullptr;
}

void CWinDialogDeviceNotices::Detach() {
    std::lock_guard lock(m_Lock);
    m_bHidRegistered.store(false);
    for (HDEVNOTIFY* notify : {&m_hUsbNotify, &m_hHidNotify}) {
        if (*notify != nullptr) {
            ::UnregisterDeviceNotification(*notify);
            *notify = nullptr;
        }
    }
    m_hDialog = nullptr;
    m_Pending.clear();
}

bool CWinDialogDeviceNotices::OnDeviceChange(WPARAM event, LPARAM record) {
    const auto notices =
        NoticesForDeviceChange(static_cast<std::uint32_t>(event), InterfaceClassOfBroadcast(record),
                               m_bHidRegistered.load());
    if (notices.empty()) {
        return false;
    }
    std::lock_guard lock(m_Lock);
    if (m_hDialog == nullptr) {
        return false;
    }
    for (const std::uint32_t notice : notices) {
        AppendNotice(m_Pending, notice);
    }
    return true;
}

NoticeWait CWinDialogDeviceNotices::WaitForNotices(std::chrono::milliseconds) {
    std::lock_guard lock(m_Lock);
    if (m_hDialog == nullptr) {
        return NoticeWait::Unavailable;
    }
    return m_Pending.empty() ? NoticeWait::TimedOut : NoticeWait::Waiting;
}

std::vector<std::uint32_t> CWinDialogDeviceNotices::TakeNotices() {
    std::lock_guard lock(m_Lock);
    std::vector<std::uint32_t> notices;
    notices.swap(m_Pending);
    return notices;
}

bool CWinDialogDeviceNotices::RegisterHidNotices() {
    std::lock_guard lock(m_Lock);
    if (m_hDialog != nullptr && m_hHidNotify == nullptr) {
        m_hHidNotify = RegisterForInterfaceClass(m_hDialog, HidInterfaceClass());
    }
    m_bHidRegistered.store(m_hHidNotify != nullptr);
    return m_hHidNotify != nullptr;
}

void CWinDialogDeviceNotices::UnregisterHidNotices() {
    std::lock_guard lock(m_Lock);
    m_bHidRegistered.store(false);
    if (m_hHidNotify != nullptr) {
        ::UnregisterDeviceNotification(m_hHidNotify);
        m_hHidNotify = nullptr;
    }
}

}  // namespace tarvex
