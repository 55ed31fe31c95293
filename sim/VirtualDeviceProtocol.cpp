// The protocol as the virtual update device plays it: packets gathered from the reports that
// carry them, each request and command answered (or not, as the faults say), replies queued.

#include "sim/VirtualUpdateDevice.h"

#include <algorithm>

#include "sim/VirtualDevicePacket.h"

namespace tarvex::sim {

namespace {

// Length bytes of the replies: marker through reply code, or through the version.
constexpr std::uint8_t kShortReplyLength = kReportReplyCode - 1;
constexpr std::uint8_t kVersionReplyLength = kReportVersion + 4 - 2;

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

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
