#pragma once
// One question from a worker thread to the user, answered once, and what the windows' relays
// need to show it: the worker waits on the question while the window's thread opens its window
// and answers it when the user closes it, or cancels it when the window goes away. Knows no
// toolkit; each window's relay carries the question to its own thread.
//
// Threads: Answer, Cancel, Answered and Wait from any thread; SetDismiss and Dismiss on the
// window's thread.

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

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

}  // namespace tarvex
