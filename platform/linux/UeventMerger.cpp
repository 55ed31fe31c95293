#include "platform/linux/UeventMerger.h"

#include <algorithm>
#include <utility>

#include "platform/DeviceNoticeSource.h"

namespace tarvex {

namespace {
// Enough for every event of a plug storm whose kernel copy may still be read after udevd's.
constexpr std::size_t kRecentFromUdevdKept = 1024;
}  // namespace

const char* ToString(UeventSource source) {
    switch (source) {
        case UeventSource::Unknown:
            return "unknown";
        case UeventSource::Udevd:
            return "udevd";
        case UeventSource::Kernel:
            return "kernel";
    }
    return "?";
}

CUeventMerger::CUeventMerger(bool udevdMayRun)
    : m_Source(udevdMayRun ? UeventSource::Unknown : UeventSource::Kernel) {}

void CUeventMerger::Deliver(std::optional<std::uint32_t> notice) {
    if (notice) {
        AppendNotice(m_Ready, *notice);
    }
}

bool CUeventMerger::SeenFromUdevd(std::uint64_t sequenceNumber) const {
    return std::find(m_RecentFromUdevd.begin(), m_RecentFromUdevd.end(), sequenceNumber) !=
           m_RecentFromUdevd.end();
}

void CUeventMerger::Add(UeventOrigin origin, std::uint64_t sequenceNumber,
                        std::optional<std::uint32_t> notice, Clock::time_point now) {
    if (origin == UeventOrigin::Udevd) {
        m_Source = UeventSource::Udevd;
        // Delivered even when its kernel copy went out already (udevd was slower than the
        // grace): only now are the node's permissions sure to be set.
        std::erase_if(m_HeldBack,
                      [&](const HeldBack& held) { return held.SequenceNumber == sequenceNumber; });
        m_RecentFromUdevd.push_back(sequenceNumber);
        if (m_RecentFromUdevd.size() > kRecentFromUdevdKept) {
            m_RecentFromUdevd.pop_front();
        }
        Deliver(notice);
        return;
    }
    if (SeenFromUdevd(sequenceNumber)) {
        return;
    }
    if (m_Source == UeventSource::Kernel) {
        Deliver(notice);
        return;
    }
    const auto grace = m_Source == UeventSource::Udevd ? kUdevdGraceDelivering : kUdevdGraceUnknown;
    m_HeldBack.push_back(HeldBack{sequenceNumber, notice, now + grace});
}

void CUeventMerger::AddLost() {
    AppendNotice(m_Ready, kDeviceNodesChanged);
}

std::vector<std::uint32_t> CUeventMerger::Take(Clock::time_point now) {
    if (!m_HeldBack.empty() && m_HeldBack.front().Due <= now) {
        // udevd let one go by: it does not send here. Everything held back goes now, in order.
        m_Source = UeventSource::Kernel;
        for (const auto& held : m_HeldBack) {
            Deliver(held.Notice);
        }
        m_HeldBack.clear();
    }
    return std::exchange(m_Ready, {});
}

std::optional<CUeventMerger::Clock::time_point> CUeventMerger::NextDue() const {
    if (m_HeldBack.empty()) {
        return std::nullopt;
    }
    return m_HeldBack.front().Due;
}

}  // namespace tarvex
