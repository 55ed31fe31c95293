#pragma once
// CReportTailPort: passes everything through to another port and keeps the last
// kReportTailLength reports as --trace prints them, so that the history can show what the device
// said last when a run fails.
//
// Threads: any; the tail is guarded by its own lock.

#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "hid/ObservedHidPort.h"

namespace tarvex {

inline constexpr std::size_t kReportTailLength = 16;

class CReportTailPort final : public CObservedHidPort {
public:
    using CObservedHidPort::CObservedHidPort;

    void OnReport(char direction, std::span<const std::uint8_t> report) override;
    void Clear();
    std::vector<std::string> Lines() const;

private:
    mutable std::mutex m_Lock;
    std::deque<std::string> m_Lines;
};

}  // namespace tarvex
