#include "cli/ReportTrace.h"

#include <string>

namespace tarvex {

void CTracingHidPort::OnReport(char direction, std::span<const std::uint8_t> report) {
    const std::string line = FormatTraceLine(direction, report);
    std::lock_guard lock(m_TraceLock);
    m_Trace << line << '\n' << std::flush;
}

}  // namespace tarvex
