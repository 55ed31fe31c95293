#pragma once
// Choosing the volume a drive-copy run writes onto: the capacity of a drive-mode device's volume,
// which mounted volume is the device's, and how long a run waits for it to be mounted. The wait
// itself (CUpdateEngine::AwaitImageDrive) lives in DriveChoice.cpp.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/VolumeList.h"

namespace tarvex {

// The device's volume is 104 KiB. Its size is compared with the low 10 bits cleared, so any
// capacity from 106,496 up to but excluding 107,520 bytes matches.
inline constexpr std::uint64_t kImageDriveCapacity = 0x1A000;
inline constexpr std::uint64_t kImageDriveCapacityIgnoredBits = 0x3FF;

constexpr bool IsImageDriveCapacity(std::uint64_t capacity) {
    return (capacity & ~kImageDriveCapacityIgnoredBits) == kImageDriveCapacity;
}

// How long a drive-copy run waits for the device's own volume to be mounted (a desktop mounts
// it a few seconds after the device arrives), and how often it looks again meanwhile.
inline constexpr std::chrono::seconds kDriveVolumeWaitLimit{30};
inline constexpr std::chrono::milliseconds kDriveVolumeRecheck{250};

// What the volumes say about where to copy.
struct DriveChoice {
    enum class Kind {
        Chosen,         // Volume is the one to copy onto
        NotMountedYet,  // the device's own volume is not mounted (yet)
        NoMatch,        // nothing mounted has the device's capacity
    };
    Kind Result = Kind::NoMatch;
    std::optional<VolumeInfo> Volume;
};

// Whether a run must refuse rather than take a volume by its capacity alone: the system ties no
// volume to any of the `attached` drive-mode devices (`tied` is empty), and which device gets
// written matters, because there are several or because one was chosen. Pure.
bool MustRefuseUntiedVolume(std::size_t attached, std::span<const std::string> tied,
                            bool deviceChosen);

// The volume to copy onto. When the system can tell which volumes belong to the attached
// drive-mode devices (`ownDevices` holds their UsbDeviceSystemPath values), only one of theirs
// is taken: the first by mount point with the device's capacity; NotMountedYet while none of
// theirs is mounted, NoMatch when one is mounted but none has the capacity. With `ownDevices`
// empty the capacity alone decides: the first matching volume by mount point in byte order,
// whatever order `volumes` comes in. Pure.
DriveChoice ChooseImageDrive(std::span<const VolumeInfo> volumes,
                             std::span<const std::string> ownDevices);

}  // namespace tarvex
