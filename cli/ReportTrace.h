#pragma once
// --trace: passes everything through to another port and writes every report sent ("> ") and
// received ("< ") to a stream as one line of 64 upper-case hexadecimal bytes, report ID first.
//
// Threads: any; lines are written whole under the port's lock.

#include <mutex>
#include <ostream>

#include "hid/ObservedHidPort.h"

namespace tarvex {

class CTracingHidPort final : public CObservedHidPort {
public:
    CTracingHidPort(CHidPort& inner, std::ostream& trace)
        : CObservedHidPort(inner), m_Trace(trace) {}

    void OnReport(char direction, std::span<const std::uint8_t> report) override;

private:
    std::ostream& m_Trace;
    std::mutex m_TraceLock;
};

}  // namespace tarvex
