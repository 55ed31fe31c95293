#include "platform/windows/WinDeviceNotices.h"

#include <dbt.h>

#include "platform/windows/DeviceChangeNotice.h"
#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

namespace {

constexpr const wchar_t* kWindowClassName = L"TarvexDeviceNotices";
constexpr UINT kRegisterHidMessage = WM_APP + 1;
constexpr UINT kUnregisterHidMessage = WM_APP + 2;
constexpr int kRegistrationAttempts = 100;
constexpr DWORD kRegistrationRetryMs = 100;

}  // namespace

CWinDeviceNotices::CWinDeviceNotices() {
    const UniqueHandle windowReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!windowReady) {
        return;
    }
    m_Thread = std::thread([this, ready = windowReady.get()] { Run(ready); });
    ::WaitForSingleObject(windowReady.get(), INFINITE);
}

CWinDeviceNotices::~CWinDeviceNotices() {
    if (m_hWindow != nullptr) {
        ::PostMessageW(m_hWindow, WM_CLOSE, 0, 0);
    }
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
}

void CWinDeviceNotices::Run(HANDLE windowReady) {
    const bool created = CreateNoticeWindow();
    ::SetEvent(windowReady);  // the constructor may return from here on
    if (!created) {
        return;
    }
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

bool CWinDeviceNotices::CreateNoticeWindow() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &CWinDeviceNotices::WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClassName;
    // A second source in the same process finds the class registered already.
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    const HWND window = ::CreateWindowExW(0, kWindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, instance, this);
    if (window == nullptr) {
        return false;
    }
    // The registration goes to the system's plug-and-play service, which may still be starting
    // when the program does (seen under wine at the start of a session): it is asked again for
    // a while (up to 10 s; under wine it once took over 2 s for the first program of a run) before
    // the source gives up.
    for (int attempt = 0; attempt < kRegistrationAttempts && m_hUsbNotify == nullptr; ++attempt) {
        if (attempt > 0) {
            ::Sleep(kRegistrationRetryMs);
        }
        m_hUsbNotify = RegisterForInterfaceClass(window, kUsbDeviceInterfaceClass);
    }
    if (m_hUsbNotify == nullptr) {
        ::DestroyWindow(window);
        return false;
    }
    m_bUsbRegistered = true;
    m_hWindow = window;
    return true;
}

LRESULT CALLBACK CWinDeviceNotices::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<CWinDeviceNotices*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_DEVICECHANGE:
            return self->OnDeviceChange(wParam, lParam);
        case kRegisterHidMessage:
            return self->RegisterHidOnWindowThread() ? 1 : 0;
        case kUnregisterHidMessage:
            self->UnregisterHidOnWindowThread();
            return 0;
        case WM_CLOSE:
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            self->UnregisterAllOnWindowThread();
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CWinDeviceNotices::OnDeviceChange(WPARAM event, LPARAM record) {
    const auto notices =
        NoticesForDeviceChange(static_cast<std::uint32_t>(event), InterfaceClassOfBroadcast(record),
                               m_bHidRegistered.load());
    if (!notices.empty()) {
        std::lock_guard lock(m_Lock);
        for (const std::uint32_t notice : notices) {
            AppendNotice(m_Pending, notice);
        }
        m_Signal.Raise();
    }
    return TRUE;
}

bool CWinDeviceNotices::RegisterHidOnWindowThread() {
    if (m_hHidNotify == nullptr) {
        m_hHidNotify = RegisterForInterfaceClass(m_hWindow, HidInterfaceClass());
    }
    m_bHidRegistered.store(m_hHidNotify != nullptr);
    return m_hHidNotify != nullptr;
}

void CWinDeviceNotices::UnregisterHidOnWindowThread() {
    m_bHidRegistered.store(false);
    if (m_hHidNotify != nullptr) {
        ::UnregisterDeviceNotification(m_hHidNotify);
        m_hHidNotify = nullptr;
    }
}

void CWinDeviceNotices::UnregisterAllOnWindowThread() {
    UnregisterHidOnWindowThread();
    if (m_hUsbNotify != nullptr) {
        ::UnregisterDeviceNotification(m_hUsbNotify);
        m_hUsbNotify = nullptr;
    }
}

bool CWinDeviceNotices::Listening() const {
    return m_hWindow != nullptr && m_bUsbRegistered && m_Signal.Valid();
}

NoticeWait CWinDeviceNotices::WaitForNotices(std::chrono::milliseconds timeout) {
    if (!Listening()) {
        return NoticeWait::Unavailable;
    }
    return m_Signal.Wait(timeout);
}

std::vector<std::uint32_t> CWinDeviceNotices::TakeNotices() {
    std::lock_guard lock(m_Lock);
    m_Signal.Clear();
    std::vector<std::uint32_t> notices;
    notices.swap(m_Pending);
    return notices;
}

bool CWinDeviceNotices::RegisterHidNotices() {
    // Carried out on the notice thread, which owns the registrations. No lock is held here:
    // that thread takes m_Lock for every notice it queues.
    return m_hWindow != nullptr && ::SendMessageW(m_hWindow, kRegisterHidMessage, 0, 0) != 0;
}

void CWinDeviceNotices::UnregisterHidNotices() {
    if (m_hWindow != nullptr) {
        ::SendMessageW(m_hWindow, kUnregisterHidMessage, 0, 0);
    }
}

}  // namespace tarvex
