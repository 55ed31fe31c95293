#include "history/ReportTail.h"

#include <cstdio>

namespace tarvex {

namespace {

class CTailHidConnection final : public CHidConnection {
public:
    CTailHidConnection(std::unique_ptr<CHidConnection> inner, CReportTailPort& port)
        : m_pInner(std::move(inner)), m_Port(port) {}

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
        const HidIoStatus status = m_pInner->ReadInputReport(report, timeout);
        if (status == HidIoStatus::Ok) {
            m_Port.Keep('<', report);
        }
        return status;
    }

    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
        m_Port.Keep('>', report);
        return m_pInner->WriteOutputReport(report);
    }

private:
    std::unique_ptr<CHidConnection> m_pInner;
    CReportTailPort& m_Port;
};

}  // namespace

std::string FormatTraceLine(char direction, std::span<const std::uint8_t> report) {
    std::string line;
    line.reserve(2 + kHidReportSize * 3);
    line.push_back(direction);
    line.push_back(' ');
    for (std::size_t i = 0; i < kHidReportSize; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", i < report.size() ? report[i] : 0);
        if (i != 0) {
            line.push_back(' ');
        }
        line.append(hex, 2);
    }
    return line;
}

CReportTailPort::CReportTailPort(CHidPort& inner) : m_Inner(inner) {}

std::vector<HidInterfaceInfo> CReportTailPort::ListHidInterfaces() {
    return m_Inner.ListHidInterfaces();
}

HidOpenResult CReportTailPort::OpenHidInterface(const std::string& path) {
    HidOpenResult opened = m_Inner.OpenHidInterface(path);
    if (opened.Connection) {
        opened.Connection =
            std::make_unique<CTailHidConnection>(std::move(opened.Connection), *this);
    }
    return opened;
}

void CReportTailPort::Keep(char direction, std::span<const std::uint8_t> report) {
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
