#pragma once
// Sleep blocks from systemd-logind: its Inhibit call over the system D-Bus returns a descriptor,
// and the block lasts exactly as long as some process holds that descriptor open. The block
// keeps the only copy (close-on-exec, so no helper program inherits it) and closes it when it is
// destroyed; if the program dies, the kernel closes it and the block ends with it.

#include <chrono>
#include <string>

#include "platform/SleepInhibitor.h"

namespace tarvex {

// Both kinds of suspend (the one a user asks for and the one after idling), and the lid switch:
// logind ignores sleep blocks when the lid closes unless told otherwise (its default
// LidSwitchIgnoreInhibited=yes), and a laptop suspended mid-update leaves a half-written device.
// With the lid switch held, closing the lid does nothing until the run ends.
inline constexpr const char* kLogindInhibitWhat = "sleep:idle:handle-lid-switch";
// Block, not delay: a delay lock only postpones sleep by a few seconds.
inline constexpr const char* kLogindInhibitMode = "block";
inline constexpr std::chrono::seconds kLogindCallTimeout{5};

class CLogindSleepInhibitor final : public CSleepInhibitor {
public:
    // Asks the system bus; with `busAddress` (a D-Bus address such as unix:path=/run/x/bus),
    // that bus instead. Waits at most `callTimeout` for logind's answer.
    explicit CLogindSleepInhibitor(std::string busAddress = {},
                                   std::chrono::milliseconds callTimeout = kLogindCallTimeout);

    // Each call opens its own connection and closes it before returning; only the descriptor
    // stays.
    SleepBlockResult BlockSleep(const std::string& who, const std::string& why) override;

private:
    const std::string m_BusAddress;
    const std::chrono::milliseconds m_CallTimeout;
};

}  // namespace tarvex
