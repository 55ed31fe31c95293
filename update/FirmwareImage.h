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

#include "hid/ReportLayout.h"

namespace tarvex {

inline constexpr std::size_t kFileHeaderSize = 16;
inline constexpr std::size_t kLeadSizeOffset = 12;  // 16-bit big-endian
inline constexpr std::uint32_t kLeadSectionBase = 512;

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
    ShorterThanFileHeader,   // fewer than 16 bytes
    EndsBeforeImageHeader,   // ends before HeaderOffset + 28
    EmptyPayload,            // PayloadLength 0
    PayloadBeyondEndOfFile,  // HeaderOffset + 28 + PayloadLength past the end
};

const char* ToString(ImageRefusal refusal);

// Whether an image of `fileSize` bytes holds the ImageHeader at `headerOffset` and the payload
// of `payloadLength` bytes after it. Measured from the payload's real start, without wrap-around.
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

}  // namespace tarvex
