#pragma once
// A volume's size from what GetDiskFreeSpaceW tells of it: total clusters x sectors per cluster
// x bytes per sector. The three 32-bit counts can multiply to 96 bits, so the product saturates
// at the largest 64-bit value instead of wrapping: a wrapped size of a large disk could
// otherwise land on the drive-mode device's 104 KiB.
//
// Pure, and built on every system so that its tests run on both.

#include <cstdint>

namespace tarvex {

std::uint64_t VolumeCapacity(std::uint32_t totalClusters, std::uint32_t sectorsPerCluster,
                             std::uint32_t bytesPerSector);

}  // namespace tarvex
