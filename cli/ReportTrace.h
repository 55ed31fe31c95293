#pragma once
// --trace: a CHidPort that passes everything through to another one and writes every report
// sent ("> ") and received ("< ") as one line of 64 upper-case hexadecimal bytes, report ID first.

#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "history/ReportTail.h"  // FormatTraceLine, which the history's reports share
#include "platform/HidPort.h"

namespace tarvex {

class CTracingHidPort final : public CHidPort {
public:
    CTracingHidPort(CHidPort& inner, std::ostream& trace);

    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;

    void WriteTraceLine(char direction, std::span<const std::uint8_t> report);

private:
    CHidPort& m_Inner;
    std::ostream& m_Trace;
    std::mutex m_TraceLock;
};

}  // namespace tarvex
