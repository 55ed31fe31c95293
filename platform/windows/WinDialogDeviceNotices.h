#pragma once
// Device-change notices registered on the updater's own dialog: the dialog receives
// WM_DEVICECHANGE (the system's tree-changed broadcast, USB devices arriving and leaving, and HID
// interfaces once CHid asks) and hands each message to OnDeviceChange, which queues what it
// means to the engine; the dialog then takes the notices with TakeNotices. No thread of its own.
//
// Threads: Attach, Detach, RetryUsbRegistration, OnDeviceChange and TakeNotices on the dialog's
// thread; RegisterHidNotices and UnregisterHidNotices on any thread (a detection on a worker).

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/DeviceNoticeSource.h"

namespace tarvex {

class CWinDialogDeviceNotices final : public CDeviceNoticeSource {
public:
    CWinDialogDeviceNotices() = default;
    ~CWinDialogDeviceNotices() override;
    CWinDialogDeviceNotices(const CWinDialogDeviceNotices&) = delete;
    CWinDialogDeviceNotices& operator=(const CWinDialogDeviceNotices&) = delete;

    // Registers `dialog` for USB device notices. False when the system's plug-and-play service
    // did not take the registration yet (it may still be starting): RetryUsbRegistration later.
    bool Attach(HWND dialog);
    bool RetryUsbRegistration();
    // Withdraws every registration; no notice is queued afterwards.
    void Detach();
    bool UsbNoticesRegistered() const;

    // The dialog's WM_DEVICECHANGE; true when notices were queued.
    bool OnDeviceChange(WPARAM event, LPARAM record);

    int NoticeFd() const override { return -1; }
    // Never blocks: the notices come with the dialog's own messages.
    NoticeWait WaitForNotices(std::chrono::milliseconds timeout) override;
    std::vector<std::uint32_t> TakeNotices() override;
    bool RegisterHidNotices() override;
    void UnregisterHidNotices() override;

private:
    mutable std::mutex m_Lock;
    HWND m_hDialog = nullptr;
    HDEVNOTIFY m_hUsbNotify = nullptr;
    HDEVNOTIFY m_hHidNotify = nullptr;
    std::atomic<bool> m_bHidRegistered{false};
    std::vector<std::uint32_t> m_Pending;
};

}  // namespace tarvex
