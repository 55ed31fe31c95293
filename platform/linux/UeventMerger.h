#pragma once
// Device events reach a process on two netlink sources: the kernel's own, at once, and udevd's
// re-broadcast of each, after its rules have run (which is when a new hidraw node has the
// permissions the uaccess rule gives it). Where udevd runs and its broadcasts reach us, its
// copy is the one to act on; where it does not (no udevd, or a container outside udevd's
// network namespace, where /run/udev/control may still exist), only the kernel's copy comes.
// Which is the case shows only in what arrives, so both are listened to and merged here:
//
//  - udevd's copy of an event is delivered when it arrives;
//  - the kernel's copy is held back for a grace time, and dropped when udevd's copy of the same
//    event (same sequence number) comes meanwhile;
//  - a kernel copy whose grace runs out is delivered, and from then on udevd is taken to be
//    silent: kernel copies are delivered at once, until a copy from udevd arrives again.
//
// Pure: time is passed in. Not thread-safe; the monitor uses it on the window's thread only.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tarvex {

enum class UeventOrigin { Kernel, Udevd };

// Whose events are delivered as they come.
enum class UeventSource {
    Unknown,  // nothing told yet: kernel copies wait for udevd's
    Udevd,    // udevd's copies arrive
    Kernel,   // udevd's copies do not arrive
};

const char* ToString(UeventSource source);

// How long a kernel copy waits for udevd's: with nothing known yet, and once udevd's copies
// have been seen to arrive (then a late one is more likely slow than missing).
inline constexpr std::chrono::milliseconds kUdevdGraceUnknown{3000};
inline constexpr std::chrono::milliseconds kUdevdGraceDelivering{10000};

class CUeventMerger {
public:
    using Clock = std::chrono::steady_clock;

    // `udevdMayRun` false (no udevd control socket): kernel copies are delivered at once from
    // the start, as udevd cannot send any.
    explicit CUeventMerger(bool udevdMayRun);

    // One event as it arrived, with the notice it gives (if any). Events that give no notice
    // still tell whether udevd's copies arrive.
    void Add(UeventOrigin origin, std::uint64_t sequenceNumber, std::optional<std::uint32_t> notice,
             Clock::time_point now);
    // A receive buffer overflowed and events were lost: a tree-changed notice makes the window
    // look at the devices again.
    void AddLost();

    // The notices due by `now`, oldest first, batched as AppendNotice does.
    std::vector<std::uint32_t> Take(Clock::time_point now);
    // When a held-back kernel copy falls due; nothing while none is held back.
    std::optional<Clock::time_point> NextDue() const;
    UeventSource Source() const { return m_Source; }

private:
    struct HeldBack {
        std::uint64_t SequenceNumber;
        std::optional<std::uint32_t> Notice;
        Clock::time_point Due;
    };

    void Deliver(std::optional<std::uint32_t> notice);
    bool SeenFromUdevd(std::uint64_t sequenceNumber) const;

    UeventSource m_Source;
    std::deque<HeldBack> m_HeldBack;
    // Sequence numbers of udevd's recent copies, for a kernel copy read after its udevd copy.
    std::deque<std::uint64_t> m_RecentFromUdevd;
    std::vector<std::uint32_t> m_Ready;
};

}  // namespace tarvex
