// The virtual update device's misbehaviour on demand: latency, silence, refused writes, held
// replies, faults at given packets and reports injected from outside.

#include "sim/VirtualUpdateDevice.h"

#include <algorithm>

#include "sim/VirtualDevicePacket.h"

namespace tarvex::sim {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void CVirtualUpdateDevice::SetReplyLatency(std::chrono::milliseconds latency) {
    std::lock_guard lock(m_Lock);
    m_ReplyLatency = std::clamp(latency, std::chrono::milliseconds(0), kLongestWait);
}

void CVirtualUpdateDevice::SetSilent(bool silent) {
    std::lock_guard lock(m_Lock);
    m_bSilent = silent;
}

void CVirtualUpdateDevice::SetWritesFail(bool fail) {
    std::lock_guard lock(m_Lock);
    m_bWritesFail = fail;
}

void CVirtualUpdateDevice::RefuseWriteOf(std::size_t packetNumber) {
    std::lock_guard lock(m_Lock);
    m_RefuseWriteOf = packetNumber;
}

void CVirtualUpdateDevice::RefuseWritesAfter(std::size_t packetNumber) {
    std::lock_guard lock(m_Lock);
    m_RefuseWritesAfter = packetNumber;
}

void CVirtualUpdateDevice::HoldReplies(bool hold) {
    std::lock_guard lock(m_Lock);
    m_bRepliesHeld = hold;
    m_InputReady.notify_all();
}

bool CVirtualUpdateDevice::RefusesWriteLocked(std::span<const std::uint8_t> report) {
    if (m_bWritesFail) {
        return true;
    }
    if (m_RefuseWritesAfter && m_AnsweredPackets > *m_RefuseWritesAfter) {
        return true;
    }
    if (m_RefuseWriteOf && *m_RefuseWriteOf == m_AnsweredPackets &&
        StartsAnsweredPacketLocked(report)) {
        m_RefuseWriteOf.reset();
        return true;
    }
    return false;
}

// Whether `report` (report ID first) begins a packet that gets a packet number: the update
// request, an image header or a data packet.
bool CVirtualUpdateDevice::StartsAnsweredPacketLocked(std::span<const std::uint8_t> report) const {
    if (m_PartialExpected != 0 || report.size() <= kPacketCommand + kPacketStart ||
        report[0] != kOutputReportId || report[kPacketStart + kPacketMarker] != 0x00) {
        return false;
    }
    const std::uint8_t opcode = report[kPacketStart + kPacketOpcode];
    const std::uint8_t command = report[kPacketStart + kPacketCommand];
    return opcode == kRequestUpdate ||
           (opcode == kOpcodeCommand &&
            (command == kCommandData || command == kCommandImageHeader));
}

void CVirtualUpdateDevice::SetPacketFault(std::size_t packetNumber, PacketFault fault,
                                          std::uint8_t failureCode) {
    std::lock_guard lock(m_Lock);
    m_Faults[packetNumber] = {fault, failureCode};
}

void CVirtualUpdateDevice::ClearFaults() {
    std::lock_guard lock(m_Lock);
    m_Faults.clear();
    m_RefuseWriteOf.reset();
    m_RefuseWritesAfter.reset();
}

void CVirtualUpdateDevice::InjectInputReport(const HidReport& report) {
    std::lock_guard lock(m_Lock);
    // Not caused by a write, so there is nothing to be late after: readable at once, behind
    // whatever is already queued.
    m_Queue.push_back({Clock::now(), report});
    m_Record.push_back({ReportDirection::FromDevice, report});
    m_InputReady.notify_all();
}

std::size_t CVirtualUpdateDevice::QueuedReplyCount() const {
    std::lock_guard lock(m_Lock);
    return m_Queue.size();
}

}  // namespace tarvex::sim
