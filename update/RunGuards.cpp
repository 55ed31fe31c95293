// A run's guards: the locks of the devices it writes (and the busy notice when another program
// holds one), and the sleep block, both let go when the run closes.

#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

std::optional<CUpdateEngine::DeviceLocks> CUpdateEngine::LockDevices(
    const std::vector<std::string>& devices) {
    DeviceLocks locks;
    if (m_Guards.pDeviceLocks == nullptr) {
        return locks;
    }
    for (const auto& device : devices) {
        if (device.empty()) {
            continue;
        }
        DeviceLockResult result = m_Guards.pDeviceLocks->TryLock(device);
        if (result.Error == DeviceLockError::Busy) {
            return std::nullopt;
        }
        // Unavailable: the system cannot lock it, and refusing would make a device that cannot
        // be locked one that cannot be updated.
        if (result.Held()) {
            locks.push_back(std::move(result.Lock));
        }
    }
    return locks;
}

void CUpdateEngine::ShowDeviceBusyNotice() {
    m_bDeviceBusy.store(true);
    m_Workers.Start([this] { m_View.ShowPrompt(Text(kTextDeviceBusy), kPromptNotice); });
}

void CUpdateEngine::BlockSleepForRun() {
    if (m_Guards.pSleepInhibitor == nullptr) {
        return;
    }
    // No block (no bus, no login manager, refused): the run goes on, as it would on a system
    // without them.
    SleepBlockResult result =
        m_Guards.pSleepInhibitor->BlockSleep(Text(kTextTitle), Text(kTextSleepBlockReason));
    std::lock_guard lock(m_RunGuardLock);
    m_pRunSleepBlock = std::move(result.Block);
}

void CUpdateEngine::ReleaseRunGuards() {
    DeviceLocks locks;
    std::unique_ptr<CSleepBlock> block;
    {
        std::lock_guard lock(m_RunGuardLock);
        locks.swap(m_RunDeviceLocks);
        block.swap(m_pRunSleepBlock);
    }
    // Let go outside the lock: the system may take its time to hear of it.
}

}  // namespace tarvex
