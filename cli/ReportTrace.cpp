#include "cli/ReportTrace.h"

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
