#include "platform/windows/VolumeCapacity.h"

#include <limits>

namespace tarvex {

std::uint64_t VolumeCapacity(std::uint32_t totalClusters, std::uint32_t sectorsPerCluster,
                             std::uint32_t bytesPerSector) {
    // Two 32-bit factors always fit in 64 bits; only the third can overflow.
    const std::uint64_t clusterBytes = std::uint64_t{sectorsPerCluster} * bytesPerSector;
    if (clusterBytes != 0 &&
        totalClusters > std::numeric_limits<std::uint64_t>::max() / clusterBytes) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return clusterBytes * totalClusters;
}

}  // namespace tarvex
