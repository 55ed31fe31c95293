#include "history/ReportTail.h"

namespace tarvex {

void CReportTailPort::OnReport(char direction, std::span<const std::uint8_t> report) {
    std::string line = FormatTraceLine(direction, report);
    std::lock_guard lock(m_Lock);
    m_Lines.push_back(std::move(line));
    if (m_Lines.size() > kReportTailLength) {
        m_Lines.pop_front();
    }
}

void CReportTailPort::Clear() {
    std::lock_guard lock(m_Lock);
    m_Lines.clear();
}

std::vector<std::string> CReportTailPort::Lines() const {
    std::lock_guard lock(m_Lock);
    return {m_Lines.begin(), m_Lines.end()};
}

}  // namespace tarvex
