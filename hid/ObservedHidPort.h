#pragma once
// CObservedHidPort: a CHidPort that passes everything through to another one and shows every
// report sent (direction '>') and received ('<') to OnReport, for the terminal program's --trace
// and the history's tail of the last reports. FormatTraceLine is the one way both write a report.
//
// Threads: OnReport is called on whichever thread reads or writes the connection; the engine
// reads and writes from different threads, so an override guards what it keeps.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex {

// "> " for a report sent, "< " for one received, then 64 upper-case hexadecimal bytes, report
// ID first.
std::string FormatTraceLine(char direction, std::span<const std::uint8_t> report);

class CObservedHidPort : public CHidPort {
public:
    explicit CObservedHidPort(CHidPort& inner) : m_Inner(inner) {}

    std::vector<HidInterfaceInfo> ListHidInterfaces() final;
    HidOpenResult OpenHidInterface(const std::string& path) final;

    // A report written (before it goes out) or read successfully.
    virtual void OnReport(char direction, std::span<const std::uint8_t> report) = 0;

private:
    CHidPort& m_Inner;
};

}  // namespace tarvex
