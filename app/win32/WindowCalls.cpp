#include "app/win32/WindowCalls.h"

#include <algorithm>

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

CQuestionRelay::CQuestionRelay(CWindowCalls& windowCalls, PumpOneMessage pump)
    : m_WindowCalls(windowCalls), m_Pump(std::move(pump)) {}

QuestionAnswer CQuestionRelay::Ask(OpenQuestion open, QuestionAnswer cancelAnswer) {
    auto question = std::make_shared<CQuestion>(cancelAnswer);
    {
        std::lock_guard lock(m_Lock);
        if (m_bClosed) {
            return cancelAnswer;
        }
        m_Open.push_back(question);
    }
    if (m_WindowCalls.OnWindowThread()) {
        open(question);
        // The window's thread must not block: it is the one that answers.
        while (!question->Answered()) {
            if (!m_Pump()) {
                question->Cancel();
            }
        }
    } else {
        // A question cancelled before its turn comes is never shown; one whose window has gone
        // is answered as cancelled at once.
        const bool posted = m_WindowCalls.Post([question, open = std::move(open)] {
            if (!question->Answered()) {
                open(question);
            }
        });
        if (!posted) {
            question->Cancel();
        }
    }
    const QuestionAnswer answer = question->Wait();
    Forget(question);
    return answer;
}

void CQuestionRelay::Forget(const std::shared_ptr<CQuestion>& question) {
    std::lock_guard lock(m_Lock);
    m_Open.erase(std::remove(m_Open.begin(), m_Open.end(), question), m_Open.end());
}

void CQuestionRelay::CancelAll() {
    std::vector<std::shared_ptr<CQuestion>> open;
    {
        std::lock_guard lock(m_Lock);
        m_bClosed = true;
        open = m_Open;
    }
    for (const auto& question : open) {
        question->Cancel();
        question->Dismiss();
    }
}

std::size_t CQuestionRelay::OpenCount() const {
    std::lock_guard lock(m_Lock);
    return m_Open.size();
}

}  // namespace tarvex
