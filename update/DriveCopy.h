#pragma once
// The drive-copy update, for devices that in their update mode present a small volume instead
// of the HID update interface: the image's lead section goes onto that volume as a file named
// 1.dat in its root, and the device takes it from there. No report is exchanged on this path.
//
// The pieces here are pure or touch only the files they are given; the run itself
// (CUpdateEngine::DriveCopyThread and DriveCopyUpdate) lives in DriveCopy.cpp.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/FileWriter.h"
#include "platform/UsbDeviceList.h"
#include "platform/VolumeList.h"
#include "update/FirmwareImage.h"

namespace tarvex {

// The device's volume is 104 KiB. Its size is compared with the low 10 bits cleared, so any
// capacity from 106,496 up to but excluding 107,520 bytes matches.
inline constexpr std::uint64_t kImageDriveCapacity = 0x1A000;
inline constexpr std::uint64_t kImageDriveCapacityIgnoredBits = 0x3FF;

// The name the device looks for in its volume's root; also the name of the staged copy.
inline constexpr const char* kDriveCopyFileName = "1.dat";

// An image must reach past its LeadSize field for its lead section to be known.
inline constexpr std::size_t kLeadSizeFieldEnd = kLeadSizeOffset + 2;

constexpr bool IsImageDriveCapacity(std::uint64_t capacity) {
    return (capacity & ~kImageDriveCapacityIgnoredBits) == kImageDriveCapacity;
}

// The volume to copy onto, or nothing when no volume has the device's capacity. Among the
// matching volumes one that belongs to an attached drive-mode device (its UsbDeviceSystemPath
// is the SystemPath of a listed device with the target vendor and a drive-mode product ID) is
// preferred; otherwise, and among several such, the first by mount point in byte order, the
// order CVolumeList promises, whatever order `volumes` comes in. Pure.
std::optional<VolumeInfo> FindImageDrive(std::span<const VolumeInfo> volumes,
                                         std::span<const UsbDeviceInfo> usbDevices);

enum class LeadSectionRefusal {
    None,
    CannotOpen,
    TooShortForLeadSize,  // ends before byte 14, so its LeadSize is unknown
    ReadFailed,
};

struct LeadSection {
    LeadSectionRefusal Refusal = LeadSectionRefusal::CannotOpen;
    std::uint32_t DeclaredLength = 0;  // LeadSize + 512
    // The first DeclaredLength bytes of the image, or the whole image when it is shorter: a
    // drive-mode image need not carry anything past its lead section.
    std::vector<std::uint8_t> Bytes;
};

// Reads the lead section of the image at `path`.
LeadSection ReadLeadSection(const std::filesystem::path& path);

// Why the last drive-copy run failed, for front ends that can say more than the failure text.
enum class DriveCopyFailure {
    None,
    NoMatchingVolume,  // nothing of the device's capacity is mounted
    StagingFailed,     // 1.dat could be written neither beside the program nor in the cache
    CopyFailed,        // writing 1.dat onto the volume failed (a partial file was removed)
};

const char* ToString(DriveCopyFailure failure);

// What the engine needs for a drive-copy run. Every member may be left empty: a run then fails
// with the failure text at the step that needs it, and never writes anywhere it was not told.
// The pointed-to services must outlive the engine and be callable from its worker threads.
struct DriveCopyServices {
    CVolumeList* pVolumes = nullptr;
    CUsbDeviceList* pUsbDevices = nullptr;  // to prefer the attached device's own volume
    CFileWriter* pFileWriter = nullptr;
    // 1.dat is staged beside the program when that folder takes it, else in the cache folder
    // (created when missing).
    std::filesystem::path ProgramFolder;
    std::filesystem::path CacheFolder;
};

}  // namespace tarvex
