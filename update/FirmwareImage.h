#pragma once
// The firmware image file (.dat): a lead section of LeadSize + 512 bytes that starts with a
// 16-byte file header, the 28-byte ImageHeader, then the opaque payload.
//
// Nothing here trusts a field before the file is known to hold it: every refusal keeps its
// reason, and an image whose header promises more than the file holds never reaches a device.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "hid/ReportLayout.h"

namespace tarvex {

inline constexpr std::size_t kFileHeaderSize = 16;
inline constexpr std::size_t kLeadSizeOffset = 12;  // 16-bit big-endian
inline constexpr std::uint32_t kLeadSectionBase = 512;

// A run holds what it sends in memory (see ReadImageForTransfer). Images whose lead section,
// ImageHeader and payload together exceed this are refused: firmware for these devices is a
// few hundred KiB at most, so this only keeps a wrong file from taking the machine's memory.
inline constexpr std::uint64_t kMaxHeldImageBytes = 32 * 1024 * 1024;

using ImageHeaderBytes = std::array<std::uint8_t, kImageHeaderSize>;

// The ImageHeader's words; multi-byte fields little-endian in the file.
struct ImageHeaderFields {
    std::uint32_t ImageVersion = 0;  // word 0: Version in bits 0-15, Beta in bits 16-23
    std::uint32_t TargetAddress = 0;
    std::uint32_t PayloadLength = 0;
    std::uint16_t Version() const { return static_cast<std::uint16_t>(ImageVersion & 0xFFFF); }
    std::uint8_t Beta() const { return static_cast<std::uint8_t>((ImageVersion >> 16) & 0xFF); }
};

std::uint32_t HeaderOffsetFromFileHeader(std::span<const std::uint8_t, kFileHeaderSize> header);
ImageHeaderFields DecodeImageHeader(std::span<const std::uint8_t, kImageHeaderSize> header);

enum class ImageRefusal {
    None,
    CannotOpen,
    NotRegularFile,          // a folder, a pipe, a device node: closed again unread
    ShorterThanFileHeader,   // fewer than 16 bytes
    EndsBeforeImageHeader,   // ends before HeaderOffset + 28
    EmptyPayload,            // PayloadLength 0
    PayloadBeyondEndOfFile,  // HeaderOffset + 28 + PayloadLength past the end
    TooLargeToHold,          // HeaderOffset + 28 + PayloadLength beyond kMaxHeldImageBytes
};

const char* ToString(ImageRefusal refusal);

// Whether an image of `fileSize` bytes holds the ImageHeader at `headerOffset` and the payload
// of `payloadLength` bytes after it, within kMaxHeldImageBytes. Measured from the payload's real
// start, without wrap-around.
ImageRefusal CheckImageLayout(std::uint64_t fileSize, std::uint64_t headerOffset,
                              std::uint32_t payloadLength);

// Reads and checks an image's file header and ImageHeader. With `headerOffset` given, the
// ImageHeader is read there instead of where the file header places it (the transfer re-checks
// the file at the offset its selection found).
struct ImageProbe {
    ImageRefusal Refusal = ImageRefusal::CannotOpen;
    std::uint64_t FileSize = 0;
    std::uint32_t HeaderOffset = 0;
    ImageHeaderBytes Header{};
    ImageHeaderFields Fields{};
};
ImageProbe ProbeImageFile(const std::filesystem::path& path,
                          std::optional<std::uint32_t> headerOffset = std::nullopt);

// How many bytes from the payload's start a transfer of a `payloadLength`-byte payload sends
// when the file holds them: whole 32-byte chunks until the payload is covered, and never fewer
// than two chunks, since the transfer looks for the payload's end only from its second chunk on.
// The chunks read on past the payload's end as they always have.
std::uint64_t TransferSpan(std::uint32_t payloadLength);

// An image checked as ProbeImageFile checks it, with the bytes a transfer of it sends.
struct HeldImage {
    ImageProbe Probe;
    // The file's bytes from its start to HeaderOffset + 28 + TransferSpan, or to its end.
    std::vector<std::uint8_t> Bytes;
};
// Reads the image once, front to back through one open file: every check and every byte held
// comes from that one read, so what was checked is what is held. Bytes is empty when refused.
HeldImage ReadImageForTransfer(const std::filesystem::path& path);

}  // namespace tarvex
