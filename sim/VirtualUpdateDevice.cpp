#include "sim/VirtualUpdateDevice.h"

#include <algorithm>
#include <thread>

#include "hid/ReportLayout.h"

namespace tarvex::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Offsets inside a packet, which starts at report byte 2 (after the report ID and length byte).
constexpr std::size_t kPacketStart = 2;
constexpr std::size_t kPacketMarker = kReportMarker - kPacketStart;
constexpr std::size_t kPacketOpcode = kReportOpcode - kPacketStart;
constexpr std::size_t kPacketLengthField = 4 - kPacketStart;  // 16-bit, counts from byte 6 on
constexpr std::size_t kPacketCommand = kReportReplyCode - kPacketStart;
constexpr std::size_t kPacketPayloadLength = 7 - kPacketStart;
constexpr std::size_t kPacketPayload = 9 - kPacketStart;

// Length bytes of the replies: marker through reply code, or through the version.
constexpr std::uint8_t kShortReplyLength = kReportReplyCode - 1;
constexpr std::uint8_t kVersionReplyLength = kReportVersion + 4 - 2;

// Longer waits are as good as forever, and keep the deadline clear of the clock's range.
constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);

// A timed wait on Linux ends up to the thread's timer slack (50 us by default) after its time
// point, and a little more on a busy machine: at a 1 ms latency that alone would make every
// reply 5 % late. So a reader sleeps only until this long before a reply is due and covers the
// rest by checking the clock, giving up the processor between checks.
constexpr std::chrono::microseconds kWakeAhead{100};

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The image header as the device receives it: four 32-bit words most significant byte first,
// then twelve bytes the device takes as they come.
constexpr std::size_t kHeaderWords = 4;
constexpr std::size_t kHeaderWordBytes = 4;
constexpr std::size_t kHeaderPayloadLengthWord = 2;

std::uint32_t ReadBe32(std::span<const std::uint8_t> bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

// How many packet bytes the packet starting with `piece` has in all. Only a data packet may
// continue in further reports; every other packet is what its one report holds.
std::size_t ExpectedPacketLength(std::span<const std::uint8_t> piece) {
    if (piece.size() <= kPacketCommand || piece[kPacketOpcode] != kOpcodeCommand ||
        piece[kPacketCommand] != kCommandData) {
        return piece.size();
    }
    return kPacketCommand + ReadLe16(piece.subspan(kPacketLengthField, 2));
}

}  // namespace

CVirtualUpdateDevice::CVirtualUpdateDevice(std::uint32_t firmwareVersion)
    : m_FirmwareVersion(firmwareVersion) {}

HidIoStatus CVirtualUpdateDevice::ReceiveOutputReport(std::span<const std::uint8_t> report) {
    return ReceiveOutputReport(report, Session());
}

HidIoStatus CVirtualUpdateDevice::ReceiveOutputReport(std::span<const std::uint8_t> report,
                                                      std::uint64_t session) {
    // Taken before the lock: the reply latency counts from the moment the report came in, not
    // from whenever this thread got the device's attention.
    const auto arrived = Clock::now();
    if (report.empty() || report.size() > kHidReportSize) {
        return HidIoStatus::Failed;
    }
    std::lock_guard lock(m_Lock);
    m_ReportArrived = arrived;
    if (!m_bAttached || session != m_Session) {
        return HidIoStatus::DeviceGone;
    }
    if (RefusesWriteLocked(report)) {
        return HidIoStatus::Failed;
    }
    RecordedReport recorded{ReportDirection::ToDevice, {}};
    std::copy(report.begin(), report.end(), recorded.Bytes.begin());
    m_Record.push_back(recorded);

    // A report with another ID is not meant for the update protocol; the device lets it pass.
    if (recorded.Bytes[0] == kOutputReportId) {
        const std::size_t length = std::min<std::size_t>(recorded.Bytes[1], kPacketRoomPerReport);
        TakePieceLocked(std::span<const std::uint8_t>(recorded.Bytes).subspan(2, length));
    }
    // A Disappear fault unplugs the device while it takes the report.
    return m_bAttached ? HidIoStatus::Ok : HidIoStatus::DeviceGone;
}

HidIoStatus CVirtualUpdateDevice::SendInputReport(HidReport& report,
                                                  std::chrono::milliseconds timeout) {
    return SendInputReport(report, timeout, Session());
}

HidIoStatus CVirtualUpdateDevice::SendInputReport(HidReport& report,
                                                  std::chrono::milliseconds timeout,
                                                  std::uint64_t session) {
    const auto deadline =
        Clock::now() + std::clamp(timeout, std::chrono::milliseconds(0), kLongestWait);
    std::unique_lock lock(m_Lock);
    for (;;) {
        if (!m_bAttached || session != m_Session) {
            return HidIoStatus::DeviceGone;
        }
        const auto now = Clock::now();
        if (!m_bRepliesHeld && !m_Queue.empty() && m_Queue.front().Due <= now) {
            report = m_Queue.front().Bytes;
            m_Queue.pop_front();
            return HidIoStatus::Ok;
        }
        if (now >= deadline) {
            return HidIoStatus::TimedOut;
        }
        // Replies leave in the order they were queued, so only the first one's due time matters.
        const bool replyFirst =
            !m_Queue.empty() && !m_bRepliesHeld && m_Queue.front().Due < deadline;
        if (!replyFirst) {
            m_InputReady.wait_until(lock, deadline);
        } else if (m_Queue.front().Due - now > kWakeAhead) {
            m_InputReady.wait_until(lock, m_Queue.front().Due - kWakeAhead);
        } else {
            // The last stretch before the reply is due: unlocked, so that writes, unplugs and
            // other readers go on meanwhile, and everything is looked at again afterwards.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }
}

void CVirtualUpdateDevice::Unplug() {
    std::lock_guard lock(m_Lock);
    UnplugLocked();
}

void CVirtualUpdateDevice::UnplugLocked() {
    m_bAttached = false;
    m_InputReady.notify_all();
}

void CVirtualUpdateDevice::Plug() {
    std::lock_guard lock(m_Lock);
    // Plugging an attached device counts as a replug: connections of the old session die too.
    m_bAttached = true;
    ++m_Session;
    m_Queue.clear();
    m_AnsweredPackets = 0;
    m_PartialPacket.clear();
    m_PartialExpected = 0;
    m_InputReady.notify_all();
}

bool CVirtualUpdateDevice::Attached() const {
    std::lock_guard lock(m_Lock);
    return m_bAttached;
}

std::uint64_t CVirtualUpdateDevice::Session() const {
    std::lock_guard lock(m_Lock);
    return m_Session;
}

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

std::vector<std::uint8_t> CVirtualUpdateDevice::ReceivedPayload() const {
    std::lock_guard lock(m_Lock);
    if (!m_ImageHeader) {
        return m_DataBytes;
    }
    const std::size_t payloadLength = m_ImageHeader->Words[kHeaderPayloadLengthWord];
    const std::size_t kept = std::min(payloadLength, m_DataBytes.size());
    return {m_DataBytes.begin(), m_DataBytes.begin() + static_cast<std::ptrdiff_t>(kept)};
}

std::vector<std::uint8_t> CVirtualUpdateDevice::ReceivedDataBytes() const {
    std::lock_guard lock(m_Lock);
    return m_DataBytes;
}

std::optional<std::vector<std::uint8_t>> CVirtualUpdateDevice::ReceivedImageHeader() const {
    std::lock_guard lock(m_Lock);
    if (!m_ImageHeader) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> fileOrder;
    fileOrder.reserve(kImageHeaderSize);
    for (const std::uint32_t word : m_ImageHeader->Words) {
        for (std::size_t shift = 0; shift < 32; shift += 8) {
            fileOrder.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    fileOrder.insert(fileOrder.end(), m_ImageHeader->DeviceBytes.begin(),
                     m_ImageHeader->DeviceBytes.end());
    return fileOrder;
}

std::vector<RecordedReport> CVirtualUpdateDevice::Record() const {
    std::lock_guard lock(m_Lock);
    return m_Record;
}

std::size_t CVirtualUpdateDevice::PollCount() const {
    std::lock_guard lock(m_Lock);
    return m_PollCount;
}

std::size_t CVirtualUpdateDevice::DataPacketCount() const {
    std::lock_guard lock(m_Lock);
    return m_DataPacketCount;
}

std::size_t CVirtualUpdateDevice::FinishCount() const {
    std::lock_guard lock(m_Lock);
    return m_FinishCount;
}

std::size_t CVirtualUpdateDevice::VersionQueryCount() const {
    std::lock_guard lock(m_Lock);
    return m_VersionQueryCount;
}

std::size_t CVirtualUpdateDevice::UpdateRequestCount() const {
    std::lock_guard lock(m_Lock);
    return m_UpdateRequestCount;
}

void CVirtualUpdateDevice::Reset() {
    std::lock_guard lock(m_Lock);
    m_Record.clear();
    m_DataBytes.clear();
    m_ImageHeader.reset();
    m_PollCount = 0;
    m_DataPacketCount = 0;
    m_FinishCount = 0;
    m_VersionQueryCount = 0;
    m_UpdateRequestCount = 0;
    m_AnsweredPackets = 0;
    m_PartialPacket.clear();
    m_PartialExpected = 0;
}

void CVirtualUpdateDevice::TakePieceLocked(std::span<const std::uint8_t> piece) {
    if (m_PartialExpected == 0) {
        if (piece.empty()) {
            return;
        }
        m_PartialExpected = ExpectedPacketLength(piece);
    }
    // A continuation report has no header of its own: its bytes simply extend the packet.
    m_PartialPacket.insert(m_PartialPacket.end(), piece.begin(), piece.end());
    if (m_PartialPacket.size() < m_PartialExpected) {
        return;
    }
    const std::vector<std::uint8_t> packet = std::move(m_PartialPacket);
    m_PartialPacket.clear();
    m_PartialExpected = 0;
    HandlePacketLocked(packet);
}

void CVirtualUpdateDevice::HandlePacketLocked(std::span<const std::uint8_t> packet) {
    if (packet.size() <= kPacketOpcode || packet[kPacketMarker] != 0x00) {
        return;
    }
    switch (packet[kPacketOpcode]) {
        case kRequestUpdate:
            ++m_UpdateRequestCount;
            AnswerLocked(m_AnsweredPackets++, MakeReply(kReplyUpdateReady, 0x00));
            break;
        case kRequestPoll:
            ++m_PollCount;
            break;
        case kOpcodeCommand:
            HandleCommandLocked(packet);
            break;
        default:
            break;
    }
}

void CVirtualUpdateDevice::HandleCommandLocked(std::span<const std::uint8_t> packet) {
    if (packet.size() <= kPacketCommand) {
        return;
    }
    std::span<const std::uint8_t> payload;
    if (packet.size() >= kPacketPayload) {
        const std::size_t announced = ReadLe16(packet.subspan(kPacketPayloadLength, 2));
        payload =
            packet.subspan(kPacketPayload, std::min(announced, packet.size() - kPacketPayload));
    }

    switch (packet[kPacketCommand]) {
        case kCommandData:
            ++m_DataPacketCount;
            m_DataBytes.insert(m_DataBytes.end(), payload.begin(), payload.end());
            AnswerLocked(m_AnsweredPackets++, MakeCommandReply(kReplyCodeAck));
            break;
        case kCommandImageHeader: {
            // A header of any other size is not one the device can take: left unanswered.
            if (payload.size() != kImageHeaderSize) {
                break;
            }
            ImageHeaderWords header;
            for (std::size_t word = 0; word < kHeaderWords; ++word) {
                header.Words[word] = ReadBe32(payload.subspan(word * kHeaderWordBytes, 4));
            }
            std::copy(payload.begin() + kHeaderWords * kHeaderWordBytes, payload.end(),
                      header.DeviceBytes.begin());
            m_ImageHeader = header;
            // A header announces a new image: what came before belongs to an abandoned one.
            m_DataBytes.clear();
            AnswerLocked(m_AnsweredPackets++, MakeCommandReply(kReplyCodeAck));
            break;
        }
        case kCommandFinish:
            ++m_FinishCount;
            break;
        case kCommandVersionQuery:
            ++m_VersionQueryCount;
            if (!m_bSilent) {
                QueueLocked(MakeCommandReply(kReplyCodeVersion, m_FirmwareVersion));
            }
            break;
        default:
            break;
    }
}

void CVirtualUpdateDevice::AnswerLocked(std::size_t packetNumber, const HidReport& normalReply) {
    const auto fault = m_Faults.find(packetNumber);
    if (fault != m_Faults.end() && fault->second.first == PacketFault::Disappear) {
        UnplugLocked();
        return;
    }
    if (m_bSilent) {
        return;
    }
    if (fault == m_Faults.end()) {
        QueueLocked(normalReply);
        return;
    }
    switch (fault->second.first) {
        case PacketFault::Silence:
        case PacketFault::Disappear:
            break;
        case PacketFault::FailureReply:
            QueueLocked(MakeCommandReply(fault->second.second));
            break;
        case PacketFault::RepeatAck:
            QueueLocked(normalReply);
            QueueLocked(normalReply);
            break;
        case PacketFault::MemoryReply:
            QueueLocked(MakeReply(kReplyMemory, kMemoryReplySuccess));
            break;
    }
}

void CVirtualUpdateDevice::QueueLocked(const HidReport& reply) {
    m_Queue.push_back({m_ReportArrived + m_ReplyLatency, reply});
    m_Record.push_back({ReportDirection::FromDevice, reply});
    m_InputReady.notify_all();
}

HidReport CVirtualUpdateDevice::MakeCommandReply(std::uint8_t replyCode,
                                                 std::uint32_t version) const {
    HidReport reply = MakeReply(kReplyCommand, replyCode);
    if (replyCode == kReplyCodeVersion) {
        reply[1] = kVersionReplyLength;
        for (std::size_t i = 0; i < 4; ++i) {
            reply[kReportVersion + i] = static_cast<std::uint8_t>(version >> (8 * i));
        }
    }
    return reply;
}

HidReport CVirtualUpdateDevice::MakeReply(std::uint8_t opcode, std::uint8_t byte6) {
    HidReport reply{};
    reply[0] = kInputReportId;
    reply[1] = kShortReplyLength;
    reply[kReportMarker] = 0x00;
    reply[kReportOpcode] = opcode;
    reply[kReportReplyCode] = byte6;
    return reply;
}

}  // namespace tarvex::sim
