#pragma once
// Byte layout of every packet the tool sends and of the replies it reads. Offsets named
// kReport* are report offsets (byte 0 = report ID); the engine sees input reports from report
// byte 1 on, so report byte k is at index k - 1 of what ReadReport delivers.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvex {

inline constexpr std::uint8_t kOutputReportId = 0x81;
inline constexpr std::size_t kPacketRoomPerReport = 62;  // 64 minus report ID and length byte

// Opcodes and request codes at report byte 3.
inline constexpr std::uint8_t kOpcodeCommand = 0x16;
inline constexpr std::uint8_t kRequestUpdate = 0x1A;
inline constexpr std::uint8_t kRequestPoll = 0x1D;

// Command codes at report byte 6 of a command packet.
inline constexpr std::uint8_t kCommandData = 0;
inline constexpr std::uint8_t kCommandImageHeader = 1;
inline constexpr std::uint8_t kCommandFinish = 2;
inline constexpr std::uint8_t kCommandVersionQuery = 4;

// Reply opcodes at report byte 3 of an input report.
inline constexpr std::uint8_t kReplyUpdateReady = 0x19;
inline constexpr std::uint8_t kReplyCommand = 0x16;
inline constexpr std::uint8_t kReplyMemory = 0x14;
inline constexpr std::uint8_t kMemoryReplySuccess = 0x32;

// Reply codes at report byte 6 of a command reply.
inline constexpr std::uint8_t kReplyCodeAck = 0x14;
inline constexpr std::uint8_t kReplyCodeFailure = 0x15;
inline constexpr std::uint8_t kReplyCodeFailureAlt = 0x18;
inline constexpr std::uint8_t kReplyCodeVersion = 0x04;

// Report offsets of the reply fields the engine reads.
inline constexpr std::size_t kReportMarker = 2;  // must be 0x00
inline constexpr std::size_t kReportOpcode = 3;
inline constexpr std::size_t kReportReplyCode = 6;
inline constexpr std::size_t kReportVersion = 9;  // 32-bit little-endian, bytes 9..12

// How a command packet travels. Only the report route is in use.
inline constexpr std::uint8_t kSendModeReport = 0x97;
inline constexpr std::uint8_t kSendModeBlock = 0x98;

inline constexpr std::size_t kImageHeaderSize = 28;
inline constexpr std::size_t kChunkSize = 32;
// A data packet is cut into report pieces of at most this many packet bytes; a full 32-byte
// chunk makes exactly one 39-byte packet.
inline constexpr std::size_t kDataPieceSize = 39;
// Longest payload of a non-data command that still fits one report.
inline constexpr std::size_t kMaxCommandPayload = 55;

// Device version value meaning "the device has no firmware version".
inline constexpr std::uint32_t kNoDeviceVersion = 0xFFFFFFFF;

// A packet as handed to WriteReport: the length byte followed by the packet bytes.
using ReportBody = std::vector<std::uint8_t>;

// Short request: L = 5, 0x00, code, 0x01, 0x00, argument.
ReportBody EncodeRequest(std::uint8_t code, std::uint8_t argument);

// Command packet (opcode 0x16) with its length byte, before any split into reports.
ReportBody EncodeCommandPacket(std::uint8_t command, std::span<const std::uint8_t> payload);

// The report bodies one command travels in over the report route: one for every command but
// data, data cut into pieces of at most 39 packet bytes, each with its own length byte.
std::vector<ReportBody> SplitForReportRoute(std::uint8_t command, const ReportBody& packet);

// The image header as the device expects it: its first four 32-bit words byte-reversed
// (big-endian on the wire), the last 12 bytes unchanged.
std::array<std::uint8_t, kImageHeaderSize> ImageHeaderForDevice(
    std::span<const std::uint8_t, kImageHeaderSize> header);

// Fields of a received input report, given from report byte 1 on (as ReadReport delivers it).
struct DeviceReply {
    bool Marked = false;  // report byte 2 is 0x00; unmarked replies are ignored
    std::uint8_t Opcode = 0;
    std::uint8_t ReplyCode = 0;
    std::uint32_t Version = 0;
};
DeviceReply DecodeDeviceReply(std::span<const std::uint8_t> fromReportByte1);

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes);
std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes);

}  // namespace tarvex
