#include "app/Question.h"

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

}  // namespace tarvex
