#pragma once
// The device side of the update protocol, played in software: the built-in virtual HID update
// device. It answers as the real device does (update ready for the update request, an
// acknowledgement for the image header and for each data packet, a version reply for the
// version query), assembles the payload it receives, records every report both ways, and can be
// made to misbehave on demand.
//
// Packet numbers used by the fault switches count the packets the device answers, in arrival
// order: 0 is the first such packet of a session (normally the update request), 1 the image
// header, 2 + k data packet k. Polls, the finish command and the version query are not counted.
//
// The device reads what it receives from the byte layout alone, as its firmware would: the image
// header's big-endian words are decoded here, not with the host's own encoder, so that a fault
// in the host's byte order cannot cancel itself out.
//
// Threads: every member may be called from any thread; the tool's writer and reader threads
// and a test's thread use it at once.
//
// The sources follow the sections below: VirtualUpdateDevice.cpp (the host's side, plugging),
// VirtualDeviceFaults.cpp (misbehaviour), VirtualDeviceRecord.cpp (observation) and
// VirtualDeviceProtocol.cpp (how the device reads packets and answers them).

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex::sim {

inline constexpr std::uint32_t kVirtualFirmwareVersion = 105;  // shown as V1.05
inline constexpr std::uint8_t kInputReportId = 0x01;

enum class ReportDirection { ToDevice, FromDevice };

struct RecordedReport {
    ReportDirection Direction;
    HidReport Bytes;
};

// What the device does when it reaches a given packet number instead of acknowledging.
enum class PacketFault {
    Silence,       // answers nothing to this packet
    FailureReply,  // command reply with a failure code (0x15 unless told otherwise)
    RepeatAck,     // acknowledges twice
    MemoryReply,   // memory reply 0x14 with byte 6 = 0x32
    Disappear,     // the device is unplugged when this packet arrives
};

class CVirtualUpdateDevice {
public:
    explicit CVirtualUpdateDevice(std::uint32_t firmwareVersion = kVirtualFirmwareVersion);

    // --- the host's side (used by the virtual connection) ---
    // Takes one output report (64 bytes, report ID first). DeviceGone once unplugged.
    HidIoStatus ReceiveOutputReport(std::span<const std::uint8_t> report);
    // Next input report whose reply latency has passed, waiting at most `timeout`. A reply is
    // due exactly the latency after the report that caused it arrived, and a waiting reader
    // gets it then, within a few microseconds when the processor is free: the latency is the
    // device's, and adds no timer slack of its own to a transfer it paces. The last 100 us
    // before a reply is due, a reader keeps checking the clock instead of sleeping.
    HidIoStatus SendInputReport(HidReport& report, std::chrono::milliseconds timeout);
    // The same, for a connection opened in `session`: DeviceGone once the device has been
    // plugged again since, even when a replug happens while the call waits. Checking the
    // session inside the device's lock is what keeps a stale connection from taking a report
    // meant for a newer one.
    HidIoStatus ReceiveOutputReport(std::span<const std::uint8_t> report, std::uint64_t session);
    HidIoStatus SendInputReport(HidReport& report, std::chrono::milliseconds timeout,
                                std::uint64_t session);

    // --- plugging ---
    // Unplug wakes every pending read with DeviceGone; Plug starts a fresh session (protocol
    // state and queue reset; the record and the assembled payload are kept until Reset).
    void Unplug();
    void Plug();
    bool Attached() const;
    // Increases on every Plug, so that connections opened earlier stay dead.
    std::uint64_t Session() const;

    // --- misbehaviour ---
    void SetReplyLatency(std::chrono::milliseconds latency);
    void SetSilent(bool silent);  // answer nothing at all
    // Every write is refused with Failed (the device stays attached and readable), as when the
    // system rejects a report on an interface that is otherwise alive.
    void SetWritesFail(bool fail);
    // The same for one report only: the one that carries packet `packetNumber`. A refused report
    // never reaches the device, so the packet keeps its number for whatever comes next.
    void RefuseWriteOf(std::size_t packetNumber);
    // Every report after packet `packetNumber` was taken is refused: polls and the finish too.
    void RefuseWritesAfter(std::size_t packetNumber);
    // While held, replies queue up but no read gets one: a test decides when the host sees them.
    // Releasing delivers them in their order, each once its latency has passed.
    void HoldReplies(bool hold);
    void SetPacketFault(std::size_t packetNumber, PacketFault fault,
                        std::uint8_t failureCode = 0x15);
    void ClearFaults();
    // Queues an arbitrary input report (report ID first), for example one whose byte 2 is not
    // zero or that carries an unknown opcode.
    void InjectInputReport(const HidReport& report);
    // Replies queued and not yet read (held ones included).
    std::size_t QueuedReplyCount() const;

    // --- observation ---
    // Payload bytes received in data packets since the last image header (a new header starts
    // a new image), cut to the PayloadLength that header gave.
    std::vector<std::uint8_t> ReceivedPayload() const;
    // Every data byte received since the last image header, including bytes sent past the
    // payload's end.
    std::vector<std::uint8_t> ReceivedDataBytes() const;
    // The image header as the device understood it, written back in file order (its words
    // little-endian): equal to the image file's header bytes exactly when the host sent them in
    // the device's byte order.
    std::optional<std::vector<std::uint8_t>> ReceivedImageHeader() const;
    std::vector<RecordedReport> Record() const;
    std::size_t PollCount() const;
    std::size_t DataPacketCount() const;
    std::size_t FinishCount() const;
    std::size_t VersionQueryCount() const;
    std::size_t UpdateRequestCount() const;
    // Forgets the record, counters and assembled payload (not the faults).
    void Reset();

private:
    struct PendingReply {
        std::chrono::steady_clock::time_point Due;
        HidReport Bytes;
    };

    // The image header's fields as the device decodes them.
    struct ImageHeaderWords {
        std::array<std::uint32_t, 4> Words{};  // version, target address, payload length, device
        std::array<std::uint8_t, 12> DeviceBytes{};
    };

    bool RefusesWriteLocked(std::span<const std::uint8_t> report);
    bool StartsAnsweredPacketLocked(std::span<const std::uint8_t> report) const;
    void TakePieceLocked(std::span<const std::uint8_t> piece);
    void HandlePacketLocked(std::span<const std::uint8_t> packet);
    void HandleCommandLocked(std::span<const std::uint8_t> packet);
    void AnswerLocked(std::size_t packetNumber, const HidReport& normalReply);
    void QueueLocked(const HidReport& reply);
    HidReport MakeCommandReply(std::uint8_t replyCode, std::uint32_t version = 0) const;
    static HidReport MakeReply(std::uint8_t opcode, std::uint8_t byte6);
    void UnplugLocked();

    mutable std::mutex m_Lock;
    std::condition_variable m_InputReady;

    std::uint32_t m_FirmwareVersion;
    bool m_bAttached = true;
    std::uint64_t m_Session = 1;
    std::chrono::milliseconds m_ReplyLatency{0};
    // When the output report being handled came in: its replies are due the latency after it.
    std::chrono::steady_clock::time_point m_ReportArrived;
    bool m_bSilent = false;
    bool m_bWritesFail = false;
    std::optional<std::size_t> m_RefuseWriteOf;
    std::optional<std::size_t> m_RefuseWritesAfter;
    bool m_bRepliesHeld = false;
    std::map<std::size_t, std::pair<PacketFault, std::uint8_t>> m_Faults;

    std::deque<PendingReply> m_Queue;
    std::size_t m_AnsweredPackets = 0;
    // A data packet longer than one report continues in the next reports.
    std::vector<std::uint8_t> m_PartialPacket;
    std::size_t m_PartialExpected = 0;

    std::vector<RecordedReport> m_Record;
    std::vector<std::uint8_t> m_DataBytes;
    std::optional<ImageHeaderWords> m_ImageHeader;
    std::size_t m_PollCount = 0;
    std::size_t m_DataPacketCount = 0;
    std::size_t m_FinishCount = 0;
    std::size_t m_VersionQueryCount = 0;
    std::size_t m_UpdateRequestCount = 0;
};

}  // namespace tarvex::sim
