#pragma once
// Questions from worker threads to the user. The worker posts the question to the window's
// thread and waits until the window's thread answers it; the window keeps running meanwhile.
// When the window closes, every open question is answered as cancelled and every later one at
// once, so that the workers can be stopped and joined without waiting for a user.
//
// Threads: Ask from any thread (on the window's thread it runs a local event loop until the
// answer comes); CancelAll and what the open-functions do, on the window's thread.

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/qt/WindowThreadQueue.h"

namespace tarvex {

struct QuestionAnswer {
    int Code = 0;
    std::filesystem::path Path;  // the file dialog's choice
};

// One question, answered once: the first answer counts, later ones are ignored.
class CQuestion {
public:
    explicit CQuestion(QuestionAnswer cancelAnswer) : m_CancelAnswer(std::move(cancelAnswer)) {}

    void Answer(QuestionAnswer answer);
    void Cancel() { Answer(m_CancelAnswer); }
    bool Answered() const;
    QuestionAnswer Wait();

    // Window thread: how to take the question's window away when the question is cancelled.
    void SetDismiss(std::function<void()> dismiss) { m_Dismiss = std::move(dismiss); }
    void Dismiss();

private:
    const QuestionAnswer m_CancelAnswer;
    mutable std::mutex m_Lock;
    std::condition_variable m_Answered;
    std::optional<QuestionAnswer> m_Answer;
    std::function<void()> m_Dismiss;  // window thread only
};

// Shows the question's window on the window's thread; the window answers the question when
// the user closes it.
using OpenQuestion = std::function<void(const std::shared_ptr<CQuestion>&)>;

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
