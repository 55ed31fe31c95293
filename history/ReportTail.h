#pragma once
// The reports of a run as --trace prints them, and CReportTailPort: a CHidPort that passes
// everything through to another and keeps the last kReportTailLength reports, so that the
// history can show what the device said last when a run fails.
//
// Threads: any; the tail is guarded by its own lock.

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex {

inline constexpr std::size_t kReportTailLength = 16;

// "> " for a report sent, "< " for one received, then 64 upper-case hexadecimal bytes, report
// ID first.
std::string FormatTraceLine(char direction, std::span<const std::uint8_t> report);

class CReportTailPort final : public CHidPort {
public:
    explicit CReportTailPort(CHidPort& inner);

    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;

    void Keep(char direction, std::span<const std::uint8_t> report);
    void Clear();
    std::vector<std::string> Lines() const;

private:
    CHidPort& m_Inner;
    mutable std::mutex m_Lock;
    std::deque<std::string> m_Lines;
};

}  // namespace tarvex
