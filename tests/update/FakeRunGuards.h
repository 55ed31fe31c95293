#pragma once
// Fakes of a run's guards: device locks that another program can be made to hold, and a sleep
// inhibitor; both count what lives, so that a test sees what a run holds and when it lets go.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceLock.h"
#include "platform/SleepInhibitor.h"

namespace tarvex::testing {

// A held lock or block that counts itself in `live` while it exists.
template <typename Held>
class CCounted final : public Held {
public:
    explicit CCounted(std::shared_ptr<std::atomic<int>> live) : m_pLive(std::move(live)) {
        ++*m_pLive;
    }
    ~CCounted() override { --*m_pLive; }

private:
    std::shared_ptr<std::atomic<int>> m_pLive;
};

// The devices' locks as another program and this one hold them: a device can be marked as held
// elsewhere, and the locks this program holds are counted while they live.
class CFakeDeviceLocks final : public CDeviceLocks {
public:
    void SetHeldElsewhere(const std::string& device, bool held) {
        std::lock_guard lock(m_Lock);
        m_HeldElsewhere[device] = held;
    }
    DeviceLockResult TryLock(const std::string& device) override {
        std::lock_guard lock(m_Lock);
        m_Requests.push_back(device);
        if (m_HeldElsewhere[device]) {
            return {nullptr, DeviceLockError::Busy, device + " held by another program"};
        }
        auto& live = m_Live[device];
        if (!live) {
            live = std::make_shared<std::atomic<int>>(0);
        }
        return {std::make_unique<CCounted<CDeviceLock>>(live), DeviceLockError::None, {}};
    }
    int LiveLocks(const std::string& device) {
        std::lock_guard lock(m_Lock);
        const auto found = m_Live.find(device);
        return found == m_Live.end() ? 0 : found->second->load();
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_Lock);
        return m_Requests;
    }

private:
    mutable std::mutex m_Lock;
    std::map<std::string, bool> m_HeldElsewhere;
    std::map<std::string, std::shared_ptr<std::atomic<int>>> m_Live;
    std::vector<std::string> m_Requests;
};

// A sleep inhibitor that grants every block (or none, when told to refuse), counting the blocks
// that live and remembering what it was asked.
class CFakeSleepInhibitor final : public CSleepInhibitor {
public:
    bool Refuse = false;

    SleepBlockResult BlockSleep(const std::string& who, const std::string& why) override {
        {
            std::lock_guard lock(m_Lock);
            m_Asked.emplace_back(who, why);
        }
        if (Refuse) {
            return {nullptr, SleepBlockError::Refused, "refused"};
        }
        return {std::make_unique<CCounted<CSleepBlock>>(m_pLive), SleepBlockError::None, {}};
    }
    int LiveBlocks() const { return m_pLive->load(); }
    std::vector<std::pair<std::string, std::string>> Asked() const {
        std::lock_guard lock(m_Lock);
        return m_Asked;
    }

private:
    mutable std::mutex m_Lock;
    std::vector<std::pair<std::string, std::string>> m_Asked;
    std::shared_ptr<std::atomic<int>> m_pLive = std::make_shared<std::atomic<int>>(0);
};

}  // namespace tarvex::testing
