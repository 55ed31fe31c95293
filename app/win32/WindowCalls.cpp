#include "app/win32/WindowCalls.h"

namespace tarvex {

void CWindowCalls::Attach(HWND window) {
    std::lock_guard lock(m_Lock);
    m_hWindow = window;
    m_WindowThreadId = ::GetCurrentThreadId();
}

void CWindowCalls::Detach() {
    HWND window = nullptr;
    {
        // Posts happen under the lock: once it is ours, nothing more reaches the window.
        std::lock_guard lock(m_Lock);
        window = m_hWindow;
        m_hWindow = nullptr;
    }
    MSG message;
    while (window != nullptr &&
           ::PeekMessageW(&message, window, kRunCallMessage, kRunCallMessage, PM_REMOVE)) {
        delete reinterpret_cast<std::function<void()>*>(message.lParam);
    }
}

bool CWindowCalls::Post(std::function<void()> call) {
    auto carried = std::make_unique<std::function<void()>>(std::move(call));
    std::lock_guard lock(m_Lock);
    if (m_hWindow == nullptr ||
        !::PostMessageW(m_hWindow, kRunCallMessage, 0, reinterpret_cast<LPARAM>(carried.get()))) {
        return false;
    }
    carried.release();  // the message owns it now
    return true;
}

bool CWindowCalls::PostValue(UINT message, WPARAM value) {
    std::lock_guard lock(m_Lock);
    return m_hWindow != nullptr && ::PostMessageW(m_hWindow, message, value, 0) != FALSE;
}

bool CWindowCalls::OnWindowThread() const {
    std::lock_guard lock(m_Lock);
    return m_WindowThreadId == ::GetCurrentThreadId();
}

void CWindowCalls::RunCarried(LPARAM carried) {
    const std::unique_ptr<std::function<void()>> call(
        reinterpret_cast<std::function<void()>*>(carried));
    if (call && *call) {
        (*call)();
    }
}

}  // namespace tarvex
