#include "hid/ReportLayout.h"

#include <algorithm>

namespace tarvex {

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

ReportBody EncodeRequest(std::uint8_t code, std::uint8_t argument) {
    return {5, 0x00, code, 0x01, 0x00, argument};
}

ReportBody EncodeCommandPacket(std::uint8_t command, std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        return {5, 0x00, kOpcodeCommand, 0x01, 0x00, command};
    }
    const std::size_t n = payload.size();
    ReportBody body;
    body.reserve(n + 8);
    body.push_back(static_cast<std::uint8_t>(n + 7));
    body.push_back(0x00);
    body.push_back(kOpcodeCommand);
    body.push_back(static_cast<std::uint8_t>((n + 3) & 0xFF));
    body.push_back(static_cast<std::uint8_t>((n + 3) >> 8));
    body.push_back(command);
    body.push_back(static_cast<std::uint8_t>(n & 0xFF));
    body.push_back(static_cast<std::uint8_t>(n >> 8));
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

std::vector<ReportBody> SplitForReportRoute(std::uint8_t command, const ReportBody& packet) {
    if (command != kCommandData) {
        return {packet};
    }
    // The packet's own length byte only describes a packet that fits one piece; longer data
    // packets continue in further reports whose length byte counts that report's bytes.
    std::vector<ReportBody> pieces;
    const auto bytes = std::span<const std::uint8_t>(packet).subspan(1);
    for (std::size_t offset = 0; offset < bytes.size(); offset += kDataPieceSize) {
        const std::size_t length = std::min(kDataPieceSize, bytes.size() - offset);
        ReportBody piece;
        piece.reserve(length + 1);
        piece.push_back(static_cast<std::uint8_t>(length));
        piece.insert(piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

std::array<std::uint8_t, kImageHeaderSize> ImageHeaderForDevice(
    std::span<const std::uint8_t, kImageHeaderSize> header) {
    std::array<std::uint8_t, kImageHeaderSize> wire{};
    std::copy(header.begin(), header.end(), wire.begin());
    for (std::size_t word = 0; word < 4; ++word) {
        std::reverse(wire.begin() + static_cast<std::ptrdiff_t>(word * 4),
                     wire.begin() + static_cast<std::ptrdiff_t>(word * 4 + 4));
    }
    return wire;
}

DeviceReply DecodeDeviceReply(std::span<const std::uint8_t> fromReportByte1) {
    DeviceReply reply;
    // Index k - 1 holds report byte k.
    const auto at = [&](std::size_t reportByte) -> std::uint8_t {
        return reportByte - 1 < fromReportByte1.size() ? fromReportByte1[reportByte - 1] : 0;
    };
    reply.Marked = at(kReportMarker) == 0x00;
    reply.Opcode = at(kReportOpcode);
    reply.ReplyCode = at(kReportReplyCode);
    if (fromReportByte1.size() >= kReportVersion + 3) {
        reply.Version = ReadLe32(fromReportByte1.subspan(kReportVersion - 1, 4));
    }
    return reply;
}

}  // namespace tarvex
