#include "update/FirmwareImage.h"

#include <fstream>
#include <system_error>

namespace tarvex {

std::uint32_t HeaderOffsetFromFileHeader(std::span<const std::uint8_t, kFileHeaderSize> header) {
    return ReadBe16(header.subspan(kLeadSizeOffset, 2)) + kLeadSectionBase;
}

ImageHeaderFields DecodeImageHeader(std::span<const std::uint8_t, kImageHeaderSize> header) {
    ImageHeaderFields fields;
    fields.ImageVersion = ReadLe32(header.subspan(0, 4));
    fields.TargetAddress = ReadLe32(header.subspan(4, 4));
    fields.PayloadLength = ReadLe32(header.subspan(8, 4));
    return fields;
}

const char* ToString(ImageRefusal refusal) {
    switch (refusal) {
        case ImageRefusal::None:
            return "usable";
        case ImageRefusal::CannotOpen:
            return "cannot be opened";
        case ImageRefusal::ShorterThanFileHeader:
            return "shorter than its 16-byte file header";
        case ImageRefusal::EndsBeforeImageHeader:
            return "ends before its image header";
        case ImageRefusal::EmptyPayload:
            return "declares an empty payload";
        case ImageRefusal::PayloadBeyondEndOfFile:
            return "ends before its payload does";
    }
    return "unknown";
}

ImageRefusal CheckImageLayout(std::uint64_t fileSize, std::uint64_t headerOffset,
                              std::uint32_t payloadLength) {
    if (fileSize < kFileHeaderSize) {
        return ImageRefusal::ShorterThanFileHeader;
    }
    const std::uint64_t payloadStart = headerOffset + kImageHeaderSize;
    if (fileSize < payloadStart) {
        return ImageRefusal::EndsBeforeImageHeader;
    }
    if (payloadLength == 0) {
        return ImageRefusal::EmptyPayload;
    }
    // 64-bit sums of 32-bit values cannot wrap.
    if (payloadStart + payloadLength > fileSize) {
        return ImageRefusal::PayloadBeyondEndOfFile;
    }
    return ImageRefusal::None;
}

ImageProbe ProbeImageFile(const std::filesystem::path& path,
                          std::optional<std::uint32_t> headerOffset) {
    ImageProbe probe;
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!file.is_open() || error) {
        return probe;
    }
    probe.FileSize = size;

    std::array<std::uint8_t, kFileHeaderSize> fileHeader{};
    file.read(reinterpret_cast<char*>(fileHeader.data()), fileHeader.size());
    if (file.gcount() != static_cast<std::streamsize>(fileHeader.size())) {
        probe.Refusal = ImageRefusal::ShorterThanFileHeader;
        return probe;
    }
    probe.HeaderOffset = headerOffset.value_or(HeaderOffsetFromFileHeader(fileHeader));

    file.seekg(probe.HeaderOffset);
    file.read(reinterpret_cast<char*>(probe.Header.data()), probe.Header.size());
    if (!file || file.gcount() != static_cast<std::streamsize>(probe.Header.size())) {
        probe.Refusal = ImageRefusal::EndsBeforeImageHeader;
        return probe;
    }
    probe.Fields = DecodeImageHeader(probe.Header);
    probe.Refusal = CheckImageLayout(size, probe.HeaderOffset, probe.Fields.PayloadLength);
    return probe;
}

}  // namespace tarvex
