#pragma once
// Device-change notices on Windows. A thread of its own runs a message-only window registered
// with RegisterDeviceNotificationW for the USB device interface class from the start (any USB
// device arriving or leaving: tree changed) and, once CHid asks, for the HID interface class
// (HID interface arrived, HID interface removed); DeviceChangeNotice.h has the mapping. The
// notices wait in a queue with a notice signal raised, and reach the engine as the Linux
// monitor's do: the window's thread (or the terminal's wait) takes them with TakeNotices.
//
// Threads: NoticeFd, WaitForNotices and TakeNotices on the window's thread; the registration
// calls on any thread (they are carried out on the notice window's own thread). Destruction
// ends and joins the notice thread.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DeviceNoticeSource.h"
#include "platform/NoticeSignal.h"

namespace tarvex {

class CWinDeviceNotices final : public CDeviceNoticeSource {
public:
    CWinDeviceNotices();
    ~CWinDeviceNotices() override;
    CWinDeviceNotices(const CWinDeviceNotices&) = delete;
    CWinDeviceNotices& operator=(const CWinDeviceNotices&) = delete;

    // False when the window or the USB registration could not be made; then no notice comes
    // and WaitForNotices is Unavailable.
    bool Listening() const;
    bool HidNoticesRegistered() const { return m_bHidRegistered.load(); }
    // The message-only window that receives WM_DEVICECHANGE; null when not listening.
    HWND NoticeWindow() const { return m_hWindow; }

    // Always -1: Windows event loops wait with WaitForNotices (or on the window itself).
    int NoticeFd() const override { return -1; }
    NoticeWait WaitForNotices(std::chrono::milliseconds timeout) override;
    std::vector<std::uint32_t> TakeNotices() override;
    bool RegisterHidNotices() override;
    void UnregisterHidNotices() override;

private:
    void Run(HANDLE windowReady);
    bool CreateNoticeWindow();
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT OnDeviceChange(WPARAM event, LPARAM record);
    // On the notice thread, through the private messages.
    bool RegisterHidOnWindowThread();
    void UnregisterHidOnWindowThread();
    void UnregisterAllOnWindowThread();

    std::mutex m_Lock;
    std::vector<std::uint32_t> m_Pending;
    CNoticeSignal m_Signal;  // raised exactly while m_Pending holds something

    std::atomic<bool> m_bHidRegistered{false};
    // Set by the notice thread before the constructor returns, and not changed afterwards.
    HWND m_hWindow = nullptr;
    bool m_bUsbRegistered = false;
    // Owned by the notice thread.
    HDEVNOTIFY m_hUsbNotify = nullptr;
    HDEVNOTIFY m_hHidNotify = nullptr;

    std::thread m_Thread;
};

}  // namespace tarvex
