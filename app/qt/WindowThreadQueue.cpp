#include "app/qt/WindowThreadQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace tarvex {

namespace {
const QEvent::Type kRunPendingEvent = static_cast<QEvent::Type>(QEvent::User + 100);
}

class CWindowThreadQueue::CReceiver final : public QObject {
public:
    explicit CReceiver(CWindowThreadQueue& queue) : m_Queue(queue) {}

    bool event(QEvent* event) override {
        if (event->type() != kRunPendingEvent) {
            return QObject::event(event);
        }
        m_Queue.RunPending();
        return true;
    }

private:
    CWindowThreadQueue& m_Queue;
};

CWindowThreadQueue::CWindowThreadQueue() : m_pReceiver(std::make_unique<CReceiver>(*this)) {}

CWindowThreadQueue::~CWindowThreadQueue() {
    {
        // Pairs with the lock a poster held while it made the wake event that the receiver's
        // destruction frees.
        std::lock_guard lock(m_Lock);
        m_Calls.clear();
    }
    m_pReceiver.reset();
}

void CWindowThreadQueue::Post(std::function<void()> call) {
    std::lock_guard lock(m_Lock);
    m_Calls.push_back(std::move(call));
    if (!m_bWakeQueued) {
        m_bWakeQueued = true;
        // Made and posted under the lock: the window's thread takes the lock before it reads
        // the queue, and Qt frees the event only after that, which ThreadSanitizer can follow.
        QCoreApplication::postEvent(m_pReceiver.get(), new QEvent(kRunPendingEvent));
    }
}

void CWindowThreadQueue::RunPending() {
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(m_Lock);
        calls.swap(m_Calls);
        m_bWakeQueued = false;
    }
    for (auto& call : calls) {
        call();
        ++m_CallsRun;
    }
}

bool CWindowThreadQueue::OnWindowThread() const {
    return QThread::currentThread() == m_pReceiver->thread();
}

}  // namespace tarvex
