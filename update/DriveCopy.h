#pragma once
// The drive-copy update, for devices that in their update mode present a small volume instead
// of the HID update interface: the image's lead section goes onto that volume as a file named
// 1.dat in its root, and the device takes it from there. No report is exchanged on this path.
//
// The pieces here are pure or touch only the files they are given; the run itself
// (CUpdateEngine::DriveCopyThread and DriveCopyUpdate) lives in DriveCopy.cpp. Which volume it
// writes onto is chosen as DriveChoice.h says.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/FileWriter.h"
#include "platform/UsbDeviceList.h"
#include "platform/VolumeList.h"
#include "update/DriveChoice.h"
#include "platform/VolumeMounter.h"
#include "update/FirmwareImage.h"

namespace tarvex {

// The name the device looks for in its volume's root; also the name of the staged copy.
inline constexpr const char* kDriveCopyFileName = "1.dat";

// An image must reach past its LeadSize field for its lead section to be known.
inline constexpr std::size_t kLeadSizeFieldEnd = kLeadSizeOffset + 2;

enum class LeadSectionRefusal {
    None,
    CannotOpen,
    NotRegularFile,       // a folder, a pipe, a device node: closed again unread
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
    VolumeNotMounted,  // the device's own volume did not get mounted in time
    DeviceLeft,        // the device went away while its volume was awaited
    CopyFailed,        // writing 1.dat onto the volume failed (a partial file was removed)
    // The system cannot tell which volume belongs to which device, and the capacity alone
    // could pick another device's: several drive-mode devices are attached, or the front end
    // updates one it was told to (bDeviceChosen). Nothing was written.
    CannotTellVolume,
    // The run asked the system to mount the device's volume, and it refused: not allowed for
    // this user, allowed only after authenticating (not asked for), or another error of the
    // disk service. Nothing was written.
    MountNotAuthorized,
    MountNeedsAuthentication,
    MountFailed,
};

const char* ToString(DriveCopyFailure failure);

// The message index of the text that tells the user why a drive-copy run failed (the reason
// below the failure text); `writeError` counts for CopyFailed only. 0 (no text) for None. Pure.
std::int32_t DriveCopyFailureReasonText(DriveCopyFailure failure, FileWriteError writeError);

// What the engine needs for a drive-copy run. Every member may be left empty: a run then fails
// with the failure text at the step that needs it, and never writes anywhere it was not told.
// The pointed-to services must outlive the engine and be callable from its worker threads.
struct DriveCopyServices {
    CVolumeList* pVolumes = nullptr;
    CUsbDeviceList* pUsbDevices = nullptr;  // to tell the attached device's own volume
    CFileWriter* pFileWriter = nullptr;
    // Where the copy of 1.dat is kept for the user (the platform's per-user cache; created when
    // missing). Empty: nothing is kept. Keeping it is a courtesy: a run whose copy cannot be
    // kept still writes the device's volume, and the file the user chose is never replaced by
    // it, under whatever name the user reached it.
    std::filesystem::path StagingFolder;
    // The wait for the device's own volume ends after VolumeWaitLimit, or at VolumeWaitDeadline
    // if that comes first (a front end's own time limit).
    std::chrono::milliseconds VolumeWaitLimit = kDriveVolumeWaitLimit;
    std::chrono::steady_clock::time_point VolumeWaitDeadline =
        std::chrono::steady_clock::time_point::max();
    // The run is for one device the user named, and pUsbDevices shows it alone while others
    // may be attached: a volume that cannot be tied to it is never taken by its size alone.
    bool bDeviceChosen = false;
    // Mounts the device's own volume when nothing else has (null: the run only waits for a
    // mount). What the run mounted it unmounts after the copy.
    CVolumeMounter* pVolumeMounter = nullptr;
    // The disk service may ask the user for a password to mount (a terminal user's choice).
    bool bAllowMountAuthentication = false;
};

}  // namespace tarvex
