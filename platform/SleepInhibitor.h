#pragma once
// Keeping the machine awake while a device is being written: a laptop that suspends, or a
// desktop that idles into standby, in the middle of an update leaves a half-written device.
// The engine takes a block when a run starts and lets it go when the run ends, however it ends.
//
// A block is advice to the system, never a condition of the run: where the system offers no way
// to block sleep (no system bus, no login manager, the request refused), the run goes on without
// one, as it always did.

#include <memory>
#include <string>

namespace tarvex {

// A held block. Destroying it ends the block; nothing else does, so its owner decides how long
// it lasts. May be destroyed on any thread.
class CSleepBlock {
public:
    virtual ~CSleepBlock() = default;
};

enum class SleepBlockError {
    None,
    NoSystemBus,  // there is no bus to ask (a container, a minimal system)
    NoService,    // the bus has nobody who manages sleep
    Refused,      // the service said no (not allowed for this user, or another error)
    NoAnswer,     // the service did not answer in time
};

struct SleepBlockResult {
    std::unique_ptr<CSleepBlock> Block;  // null unless Error is None
    SleepBlockError Error = SleepBlockError::None;
    std::string Message;  // the system's own words, for traces
    bool Held() const { return Block != nullptr; }
};

const char* ToString(SleepBlockError error);

// Threads: BlockSleep may be called from any thread, also from several at once; it waits for
// the system's answer at most a few seconds, so a front end calls it from a worker, not from
// its window's thread.
class CSleepInhibitor {
public:
    virtual ~CSleepInhibitor() = default;

    // Asks the system not to sleep or idle-suspend while the returned block lives. `who` names
    // the program and `why` the reason, as the system shows them to a user who wants to suspend
    // or shut down meanwhile.
    virtual SleepBlockResult BlockSleep(const std::string& who, const std::string& why) = 0;
};

}  // namespace tarvex
