#pragma once
// Worker threads and the window's thread on Win32.
//
// CWindowCalls carries calls from any thread to the window's thread: each call travels in a
// private message posted to the window (PostMessage never waits, so a worker can post while the
// window's thread is joining it), and runs when the window's message loop dispatches it, in the
// order posted. Calls posted after the window has gone are dropped, and so are calls still
// queued when it goes.
//
// CQuestionRelay lets a worker ask the user and wait for the answer while the window keeps
// running: the question's window is opened on the window's thread, and the worker waits on the
// question, which the window's thread answers when the user closes it. When the window closes,
// every open question is answered as cancelled and every later one at once, so that the workers
// can be stopped and joined without waiting for a user.

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/Question.h"

namespace tarvex {

// The private message that carries one call (its LPARAM owns a std::function<void()>).
inline constexpr UINT kRunCallMessage = WM_APP + 0x21;

class CWindowCalls {
public:
    CWindowCalls() = default;
    CWindowCalls(const CWindowCalls&) = delete;
    CWindowCalls& operator=(const CWindowCalls&) = delete;

    // Window thread: calls go to `window` from now on.
    void Attach(HWND window);
    // Window thread, while the window still exists: no call goes anywhere from now on, and
    // those still queued are dropped.
    void Detach();

    // Any thread. False when the call was dropped (no window).
    bool Post(std::function<void()> call);
    // Any thread: a private message that carries its value in wParam. False when dropped.
    bool PostValue(UINT message, WPARAM value);
    bool OnWindowThread() const;

    // Window thread, for kRunCallMessage: runs the call the message carries and frees it.
    static void RunCarried(LPARAM carried);

private:
    mutable std::mutex m_Lock;
    HWND m_hWindow = nullptr;
    DWORD m_WindowThreadId = 0;
};

// Shows the question's window on the window's thread; the window answers the question when the
// user closes it.
using OpenQuestion = std::function<void(const std::shared_ptr<CQuestion>&)>;
// Window thread: takes and handles one message; false once the loop is to end (WM_QUIT seen;
// it is posted again for the outer loop).
using PumpOneMessage = std::function<bool()>;

class CQuestionRelay {
public:
    CQuestionRelay(CWindowCalls& windowCalls, PumpOneMessage pump);

    // Returns the user's answer, or `cancelAnswer` when the window has closed or closes first.
    QuestionAnswer Ask(OpenQuestion open, QuestionAnswer cancelAnswer);

    // Window thread: answers every open question with its cancel answer, closes their windows,
    // and makes every later Ask return its cancel answer at once.
    void CancelAll();
    std::size_t OpenCount() const;

private:
    void Forget(const std::shared_ptr<CQuestion>& question);

    CWindowCalls& m_WindowCalls;
    PumpOneMessage m_Pump;
    mutable std::mutex m_Lock;
    bool m_bClosed = false;
    std::vector<std::shared_ptr<CQuestion>> m_Open;
};

}  // namespace tarvex
