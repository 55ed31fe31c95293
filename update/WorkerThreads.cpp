#include "update/WorkerThreads.h"

#include <algorithm>

namespace tarvex {

CWorkerThreads::~CWorkerThreads() {
    JoinAll();
}

void CWorkerThreads::ReapFinishedLocked(std::vector<Worker>& finished) {
    const auto firstFinished = std::stable_partition(
        m_Workers.begin(), m_Workers.end(), [](const Worker& w) { return !w.pDone->load(); });
    std::move(firstFinished, m_Workers.end(), std::back_inserter(finished));
    m_Workers.erase(firstFinished, m_Workers.end());
}

void CWorkerThreads::Start(std::function<void()> body) {
    std::vector<Worker> finished;
    {
        std::lock_guard lock(m_Lock);
        ReapFinishedLocked(finished);
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_Workers.push_back(Worker{std::thread([body = std::move(body), done] {
                                       body();
                                       done->store(true);
                                   }),
                                   done});
    }
    // Joined outside the lock: a finished thread may still be unwinding its last statement.
    for (auto& worker : finished) {
        worker.Thread.join();
    }
}

void CWorkerThreads::JoinAll() {
    for (;;) {
        std::vector<Worker> workers;
        {
            std::lock_guard lock(m_Lock);
            workers.swap(m_Workers);
        }
        if (workers.empty()) {
            return;
        }
        for (auto& worker : workers) {
            worker.Thread.join();
        }
    }
}

std::size_t CWorkerThreads::RunningCount() const {
    std::lock_guard lock(m_Lock);
    return static_cast<std::size_t>(std::count_if(
        m_Workers.begin(), m_Workers.end(), [](const Worker& w) { return !w.pDone->load(); }));
}

}  // namespace tarvex
