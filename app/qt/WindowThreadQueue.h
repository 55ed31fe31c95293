#pragma once
// Carries calls from worker threads to the window's thread, in the order they were posted.
//
// The calls travel through a queue under a std::mutex and a bare QEvent only says "look": Qt's
// own event queue is guarded by locks that ThreadSanitizer cannot see (Qt is not built with
// it), so data handed over through it alone would show up as races. Posting never waits for
// the window's thread, so a worker can post while that thread is joining it.
//
// Threads: Post from any thread; the calls run on the thread that created the queue, in its
// event loop. Calls still queued when the queue is destroyed are dropped.

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvex {

class CWindowThreadQueue {
public:
    CWindowThreadQueue();
    ~CWindowThreadQueue();
    CWindowThreadQueue(const CWindowThreadQueue&) = delete;
    CWindowThreadQueue& operator=(const CWindowThreadQueue&) = delete;

    void Post(std::function<void()> call);
    // Runs what is queued now (window thread).
    void RunPending();
    bool OnWindowThread() const;
    // How many calls have run so far (window thread); what the window's thread was asked to do.
    std::size_t CallsRun() const { return m_CallsRun; }

private:
    class CReceiver;

    std::unique_ptr<CReceiver> m_pReceiver;
    std::mutex m_Lock;
    std::vector<std::function<void()>> m_Calls;
    bool m_bWakeQueued = false;  // an event is on its way to the receiver
    std::size_t m_CallsRun = 0;  // window thread only
};

}  // namespace tarvex
