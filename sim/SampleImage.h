#pragma once
// Firmware images made to measure, for the demo run, the tests, the fuzzers and the benchmarks.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tarvex::sim {

struct SampleImageSpec {
    std::uint16_t LeadSize = 0;   // lead section = LeadSize + 512 bytes
    std::uint16_t Version = 115;  // shown as V1.15
    std::uint8_t Beta = 0;
    std::uint32_t TargetAddress = 0x08004000;
    std::uint32_t PayloadLength = 4096;
    std::uint32_t TrailingBytes = 0;  // bytes after the payload
    std::uint32_t Seed = 1;           // payload and lead bytes are a pseudo-random function of it
};

std::vector<std::uint8_t> BuildSampleImage(const SampleImageSpec& spec);

// The payload bytes of an image built from `spec` (what a device must end up with).
std::vector<std::uint8_t> SamplePayload(const SampleImageSpec& spec);

// Writes the image; false when the file cannot be written.
bool WriteSampleImage(const std::filesystem::path& path, const SampleImageSpec& spec);

}  // namespace tarvex::sim
