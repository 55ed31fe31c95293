#include "cli/ReportTrace.h"

#include <cstdio>

namespace tarvex {

namespace {

class CTracingHidConnection final : public CHidConnection {
public:
    CTracingHidConnection(std::unique_ptr<CHidConnection> inner, CTracingHidPort& port)
        : m_pInner(std::move(inner)), m_Port(port) {}

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
        const HidIoStatus status = m_pInner->ReadInputReport(report, timeout);
        if (status == HidIoStatus::Ok) {
            m_Port.WriteTraceLine('<', report);
        }
        return status;
    }

    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
        m_Port.WriteTraceLine('>', report);
        return m_pInner->WriteOutputReport(report);
    }

private:
    std::unique_ptr<CHidConnection> m_pInner;
    CTracingHidPort& m_Port;
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

CTracingHidPort::CTracingHidPort(CHidPort& inner, std::ostream& trace)
    : m_Inner(inner), m_Trace(trace) {}

std::vector<HidInterfaceInfo> CTracingHidPort::ListHidInterfaces() {
    return m_Inner.ListHidInterfaces();
}

HidOpenResult CTracingHidPort::OpenHidInterface(const std::string& path) {
    HidOpenResult opened = m_Inner.OpenHidInterface(path);
    if (opened.Connection) {
        opened.Connection =
            std::make_unique<CTracingHidConnection>(std::move(opened.Connection), *this);
    }
    return opened;
}

void CTracingHidPort::WriteTraceLine(char direction, std::span<const std::uint8_t> report) {
    const std::string line = FormatTraceLine(direction, report);
    std::lock_guard lock(m_TraceLock);
    m_Trace << line << '\n' << std::flush;
}

}  // namespace tarvex
