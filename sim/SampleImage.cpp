#include "sim/SampleImage.h"

#include <array>
#include <fstream>
#include <random>

#include "hid/ReportLayout.h"
#include "update/FirmwareImage.h"

namespace tarvex::sim {

namespace {

// The part of the image header this system never interprets; any fixed value will do, as long
// as it is not all zeros (a device word of zero would hide a header sent in the wrong order).
constexpr std::uint32_t kSampleDeviceWord = 0x00C0FFEE;
constexpr std::array<std::uint8_t, 12> kSampleDeviceBytes = {0x53, 0x49, 0x4D, 0x2D, 0x44, 0x45,
                                                             0x56, 0x00, 0x01, 0x02, 0x03, 0x04};

// Separate streams, so that the payload does not shift when the lead section changes size.
enum class ByteStream : std::uint32_t { Lead = 0x1EAD, Payload = 0x9A71, Trailer = 0x7A11 };

// Pseudo-random bytes that are the same on every platform: the engine's output is fixed by the
// standard, and only its raw words are used (the distributions are not portable).
void AppendRandomBytes(std::vector<std::uint8_t>& out, std::size_t count, std::uint32_t seed,
                       ByteStream stream) {
    std::seed_seq seedSequence{seed, static_cast<std::uint32_t>(stream)};
    std::mt19937 engine(seedSequence);
    out.reserve(out.size() + count);
    while (count > 0) {
        const std::uint32_t word = engine();
        for (std::size_t i = 0; i < 4 && count > 0; ++i, --count) {
            out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        }
    }
}

void AppendLe(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

std::vector<std::uint8_t> BuildSampleImage(const SampleImageSpec& spec) {
    std::vector<std::uint8_t> image;
    const std::size_t leadLength = kLeadSectionBase + spec.LeadSize;
    image.reserve(leadLength + kImageHeaderSize + spec.PayloadLength + spec.TrailingBytes);

    AppendRandomBytes(image, leadLength, spec.Seed, ByteStream::Lead);
    static_assert(kLeadSizeOffset + 2 <= kFileHeaderSize);
    image[kLeadSizeOffset] = static_cast<std::uint8_t>(spec.LeadSize >> 8);
    image[kLeadSizeOffset + 1] = static_cast<std::uint8_t>(spec.LeadSize & 0xFF);

    AppendLe(image, spec.Version, 2);
    image.push_back(spec.Beta);
    image.push_back(0x00);
    AppendLe(image, spec.TargetAddress, 4);
    AppendLe(image, spec.PayloadLength, 4);
    AppendLe(image, kSampleDeviceWord, 4);
    image.insert(image.end(), kSampleDeviceBytes.begin(), kSampleDeviceBytes.end());

    AppendRandomBytes(image, spec.PayloadLength, spec.Seed, ByteStream::Payload);
    AppendRandomBytes(image, spec.TrailingBytes, spec.Seed, ByteStream::Trailer);
    return image;
}

std::vector<std::uint8_t> SamplePayload(const SampleImageSpec& spec) {
    std::vector<std::uint8_t> payload;
    AppendRandomBytes(payload, spec.PayloadLength, spec.Seed, ByteStream::Payload);
    return payload;
}

bool WriteSampleImage(const std::filesystem::path& path, const SampleImageSpec& spec) {
    const std::vector<std::uint8_t> image = BuildSampleImage(spec);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    file.close();
    return !file.fail();
}

}  // namespace tarvex::sim
