#include "update/FirmwareImage.h"

#include <algorithm>
#include <system_error>

#include "platform/FileAccess.h"

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
        case ImageRefusal::NotRegularFile:
            return "is not a regular file";
        case ImageRefusal::ShorterThanFileHeader:
            return "shorter than its 16-byte file header";
        case ImageRefusal::EndsBeforeImageHeader:
            return "ends before its image header";
        case ImageRefusal::EmptyPayload:
            return "declares an empty payload";
        case ImageRefusal::PayloadBeyondEndOfFile:
            return "ends before its payload does";
        case ImageRefusal::TooLargeToHold:
            return "is larger than an update can hold (32 MiB)";
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
    if (payloadStart + payloadLength > kMaxHeldImageBytes) {
        return ImageRefusal::TooLargeToHold;
    }
    return ImageRefusal::None;
}

namespace {

// Reads the next `count` bytes of `file` onto the end of `bytes`; false when fewer arrived.
bool ReadOnto(CReadableFile& file, std::vector<std::uint8_t>& bytes, std::uint64_t count) {
    const std::size_t before = bytes.size();
    bytes.resize(before + count);
    std::error_code error;
    const std::size_t got = file.Read(std::span(bytes).subspan(before), error);
    bytes.resize(before + got);
    return got == count;
}

// Reads and checks the image sequentially; with `holdTransfer` also the bytes a transfer sends.
HeldImage LoadImage(const std::filesystem::path& path, std::optional<std::uint32_t> headerOffset,
                    bool holdTransfer) {
    HeldImage held;
    ImageProbe& probe = held.Probe;
    CReadableFile file(path);
    if (file.NotRegularFile()) {
        probe.Refusal = ImageRefusal::NotRegularFile;
        return held;
    }
    if (!file.IsOpen()) {
        return held;
    }
    const std::uint64_t size = file.Size();
    probe.FileSize = size;

    std::vector<std::uint8_t> bytes;
    if (!ReadOnto(file, bytes, kFileHeaderSize)) {
        probe.Refusal = ImageRefusal::ShorterThanFileHeader;
        return held;
    }
    probe.HeaderOffset = headerOffset.value_or(
        HeaderOffsetFromFileHeader(std::span(bytes).first<kFileHeaderSize>()));
    const std::uint64_t payloadStart = std::uint64_t{probe.HeaderOffset} + kImageHeaderSize;
    if (payloadStart < bytes.size() || !ReadOnto(file, bytes, payloadStart - bytes.size())) {
        probe.Refusal = ImageRefusal::EndsBeforeImageHeader;
        return held;
    }
    std::copy_n(bytes.begin() + probe.HeaderOffset, kImageHeaderSize, probe.Header.begin());
    probe.Fields = DecodeImageHeader(probe.Header);
    probe.Refusal = CheckImageLayout(size, probe.HeaderOffset, probe.Fields.PayloadLength);
    if (probe.Refusal != ImageRefusal::None || !holdTransfer) {
        return held;
    }
    const std::uint64_t end =
        std::min<std::uint64_t>(size, payloadStart + TransferSpan(probe.Fields.PayloadLength));
    ReadOnto(file, bytes, end - payloadStart);
    // The file may have shrunk since it was measured: what the payload needs must be there.
    if (bytes.size() < payloadStart + probe.Fields.PayloadLength) {
        probe.Refusal = ImageRefusal::PayloadBeyondEndOfFile;
        return held;
    }
    held.Bytes = std::move(bytes);
    return held;
}

}  // namespace

ImageProbe ProbeImageFile(const std::filesystem::path& path,
                          std::optional<std::uint32_t> headerOffset) {
    return LoadImage(path, headerOffset, false).Probe;
}

std::uint64_t TransferSpan(std::uint32_t payloadLength) {
    const std::uint64_t chunks = (std::uint64_t{payloadLength} + kChunkSize - 1) / kChunkSize;
    return std::max<std::uint64_t>(chunks, 2) * kChunkSize;
}

HeldImage ReadImageForTransfer(const std::filesystem::path& path) {
    return LoadImage(path, std::nullopt, true);
}

}  // namespace tarvex
