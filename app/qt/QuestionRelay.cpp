#include "app/qt/QuestionRelay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

namespace tarvex {

void CQuestion::Answer(QuestionAnswer answer) {
    std::lock_guard lock(m_Lock);
    if (!m_Answer) {
        m_Answer = std::move(answer);
        m_Answered.notify_all();
    }
}

bool CQuestion::Answered() const {
    std::lock_guard lock(m_Lock);
    return m_Answer.has_value();
}

QuestionAnswer CQuestion::Wait() {
    std::unique_lock lock(m_Lock);
    m_Answered.wait(lock, [this] { return m_Answer.has_value(); });
    return *m_Answer;
}

void CQuestion::Dismiss() {
    // Taken out first: dismissing closes the window, whose end answers the question again.
    auto dismiss = std::move(m_Dismiss);
    m_Dismiss = nullptr;
    if (dismiss) {
        dismiss();
    }
}

CQuestionRelay::CQuestionRelay(CWindowThreadQueue& windowThread) : m_WindowThread(windowThread) {}

QuestionAnswer CQuestionRelay::Ask(OpenQuestion open, QuestionAnswer cancelAnswer) {
    auto question = std::make_shared<CQuestion>(cancelAnswer);
    {
        std::lock_guard lock(m_Lock);
        if (m_bClosed) {
            return cancelAnswer;
        }
        m_Open.push_back(question);
    }
    QuestionAnswer answer;
    if (m_WindowThread.OnWindowThread()) {
        open(question);
        answer = WaitOnWindowThread(*question);
    } else {
        // A question cancelled before its turn comes is never shown.
        m_WindowThread.Post([question, open = std::move(open)] {
            if (!question->Answered()) {
                open(question);
            }
        });
        answer = question->Wait();
    }
    Forget(question);
    return answer;
}

QuestionAnswer CQuestionRelay::WaitOnWindowThread(CQuestion& question) {
    // The window's thread must not block: it is the one that answers.
    while (!question.Answered()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return question.Wait();
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
