#pragma once
// CWindowCalls: the window's thread on Win32 as the question relay and the workers see it. It
// carries calls from any thread to the window's thread: each call travels in a private message
// posted to the window (PostMessage never waits, so a worker can post while the window's thread
// is joining it), and runs when the window's message loop dispatches it, in the order posted.
// Calls posted after the window has gone are dropped, and so are calls still queued when it
// goes.

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/QuestionRelay.h"

namespace tarvex {

// The private message that carries one call (its LPARAM owns a std::function<void()>).
inline constexpr UINT kRunCallMessage = WM_APP + 0x21;

// Window thread: takes and handles one message; false once the loop is to end (WM_QUIT seen;
// it is posted again for the outer loop).
using PumpOneMessage = std::function<bool()>;

class CWindowCalls final : public CWindowThread {
public:
    explicit CWindowCalls(PumpOneMessage pump) : m_Pump(std::move(pump)) {}
    CWindowCalls(const CWindowCalls&) = delete;
    CWindowCalls& operator=(const CWindowCalls&) = delete;

    // Window thread: calls go to `window` from now on.
    void Attach(HWND window);
    // Window thread, while the window still exists: no call goes anywhere from now on, and
    // those still queued are dropped.
    void Detach();

    // Any thread. False when the call was dropped (no window).
    bool Post(std::function<void()> call) override;
    // Any thread: a private message that carries its value in wParam. False when dropped.
    bool PostValue(UINT message, WPARAM value);
    bool OnWindowThread() const override;
    bool HandleNextEvents() override { return m_Pump(); }

    // Window thread, for kRunCallMessage: runs the call the message carries and frees it.
    static void RunCarried(LPARAM carried);

private:
    PumpOneMessage m_Pump;
    mutable std::mutex m_Lock;
    HWND m_hWindow = nullptr;
    DWORD m_WindowThreadId = 0;
};

}  // namespace tarvex
