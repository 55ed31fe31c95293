#pragma once
// Owns the engine's worker threads: each is joined before its owner goes away, and finished
// ones are reaped whenever a new one starts, so a long session does not collect dead threads.
// Start and JoinAll may be called from any thread except a worker of this set.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvex {

class CWorkerThreads {
public:
    CWorkerThreads() = default;
    ~CWorkerThreads();
    CWorkerThreads(const CWorkerThreads&) = delete;
    CWorkerThreads& operator=(const CWorkerThreads&) = delete;

    void Start(std::function<void()> body);
    void JoinAll();
    std::size_t RunningCount() const;

private:
    struct Worker {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> pDone;
    };
    void ReapFinishedLocked(std::vector<Worker>& finished);

    mutable std::mutex m_Lock;
    std::vector<Worker> m_Workers;
};

}  // namespace tarvex
