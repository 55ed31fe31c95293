#pragma once
// Questions from worker threads to the user. The worker posts the question to the window's
// thread and waits until the window's thread answers it; the window keeps running meanwhile.
// When the window closes, every open question is answered as cancelled and every later one at
// once, so that the workers can be stopped and joined without waiting for a user.
//
// Threads: Ask from any thread (on the window's thread it runs a local event loop until the
// answer comes); CancelAll and what the open-functions do, on the window's thread.

#include <memory>
#include <mutex>
#include <vector>

#include "app/Question.h"
#include "app/qt/WindowThreadQueue.h"

namespace tarvex {

class CQuestionRelay {
public:
    explicit CQuestionRelay(CWindowThreadQueue& windowThread);

    // Returns the user's answer, or `cancelAnswer` when the window has closed or closes first.
    QuestionAnswer Ask(OpenQuestion open, QuestionAnswer cancelAnswer);

    // Window thread: answers every open question with its cancel answer, closes their windows,
    // and makes every later Ask return its cancel answer at once.
    void CancelAll();
    // Questions asked and not yet answered.
    std::size_t OpenCount() const;

private:
    QuestionAnswer WaitOnWindowThread(CQuestion& question);
    void Forget(const std::shared_ptr<CQuestion>& question);

    CWindowThreadQueue& m_WindowThread;
    mutable std::mutex m_Lock;
    bool m_bClosed = false;
    std::vector<std::shared_ptr<CQuestion>> m_Open;
};

}  // namespace tarvex
