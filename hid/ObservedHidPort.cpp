#include "hid/ObservedHidPort.h"

#include <cstdio>
#include <memory>

namespace tarvex {

namespace {

class CObservedHidConnection final : public CHidConnection {
public:
    CObservedHidConnection(std::unique_ptr<CHidConnection> inner, CObservedHidPort& port)
        : m_pInner(std::move(inner)), m_Port(port) {}

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
        const HidIoStatus status = m_pInner->ReadInputReport(report, timeout);
        if (status == HidIoStatus::Ok) {
            m_Port.OnReport('<', report);
        }
        return status;
    }

    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
        // Shown before it goes out, so that a write the device never answers is in the trace.
        m_Port.OnReport('>', report);
        return m_pInner->WriteOutputReport(report);
    }

private:
    std::unique_ptr<CHidConnection> m_pInner;
    CObservedHidPort& m_Port;
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

std::vector<HidInterfaceInfo> CObservedHidPort::ListHidInterfaces() {
    return m_Inner.ListHidInterfaces();
}

HidOpenResult CObservedHidPort::OpenHidInterface(const std::string& path) {
    HidOpenResult opened = m_Inner.OpenHidInterface(path);
    if (opened.Connection) {
        opened.Connection =
            std::make_unique<CObservedHidConnection>(std::move(opened.Connection), *this);
    }
    return opened;
}

}  // namespace tarvex
