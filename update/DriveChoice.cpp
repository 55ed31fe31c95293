// Choosing the volume a drive-copy run writes onto: which mounted volume is the device's (by its
// capacity and, where the system can tell, by the device that holds it), the drive-mode devices
// attached, and the wait for the device's volume to be mounted.

#include "update/DriveChoice.h"

#include <algorithm>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "update/DriveVolumeMount.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the shutdown flag between two looks at the volumes.
constexpr std::chrono::milliseconds kShutdownCheckSlice{50};

// Byte order of the path, as CVolumeList sorts; std::filesystem::path's own ordering compares
// element by element and would put "/a/b" before "/a-b".
bool EarlierMountPoint(const VolumeInfo& a, const VolumeInfo& b) {
    return a.MountPoint.native() < b.MountPoint.native();
}

const VolumeInfo* FirstByMountPoint(const VolumeInfo* pFirst, const VolumeInfo& candidate) {
    return pFirst == nullptr || EarlierMountPoint(candidate, *pFirst) ? &candidate : pFirst;
}

bool OnOwnDevice(const VolumeInfo& volume, std::span<const std::string> ownDevices) {
    return !volume.UsbDeviceSystemPath.empty() &&
           std::find(ownDevices.begin(), ownDevices.end(), volume.UsbDeviceSystemPath) !=
               ownDevices.end();
}

}  // namespace

bool MustRefuseUntiedVolume(std::size_t attached, std::span<const std::string> tied,
                            bool deviceChosen) {
    return tied.empty() && (attached > 1 || deviceChosen);
}

DriveChoice ChooseImageDrive(std::span<const VolumeInfo> volumes,
                             std::span<const std::string> ownDevices) {
    const VolumeInfo* pChosen = nullptr;
    bool ownMounted = false;
    for (const auto& volume : volumes) {
        const bool own = OnOwnDevice(volume, ownDevices);
        if (!ownDevices.empty() && !own) {
            continue;
        }
        // An own volume that was not sized (not the file system the device presents) does not
        // count as mounted: the device's volume may still come.
        ownMounted = ownMounted || (own && volume.CapacityBytes != 0);
        if (IsImageDriveCapacity(volume.CapacityBytes)) {
            pChosen = FirstByMountPoint(pChosen, volume);
        }
    }
    if (pChosen != nullptr) {
        return DriveChoice{DriveChoice::Kind::Chosen, *pChosen};
    }
    if (!ownDevices.empty() && !ownMounted) {
        return DriveChoice{DriveChoice::Kind::NotMountedYet, std::nullopt};
    }
    return DriveChoice{DriveChoice::Kind::NoMatch, std::nullopt};
}

std::vector<std::string> CUpdateEngine::AttachedDriveModeDevices() {
    std::vector<std::string> attached;
    if (m_DriveCopy.pUsbDevices != nullptr) {
        for (const auto& device : m_DriveCopy.pUsbDevices->ListUsbDevices()) {
            if (IsDriveModeDevice(device.VendorId, device.ProductId)) {
                attached.push_back(device.SystemPath);
            }
        }
    }
    return attached;
}

std::vector<std::string> CUpdateEngine::OwnDriveModeDevices() {
    std::vector<std::string> own;
    if (m_DriveCopy.pVolumes == nullptr || m_DriveCopy.pUsbDevices == nullptr) {
        return own;
    }
    for (const auto& device : m_DriveCopy.pUsbDevices->ListUsbDevices()) {
        if (IsDriveModeDevice(device.VendorId, device.ProductId) &&
            m_DriveCopy.pVolumes->CanFindVolumesOf(device.SystemPath)) {
            own.push_back(device.SystemPath);
        }
    }
    return own;
}

CUpdateEngine::DriveTarget CUpdateEngine::AwaitImageDrive(CDriveVolumeMount& mount) {
    if (m_DriveCopy.pVolumes == nullptr) {
        return DriveTarget{std::nullopt, DriveCopyFailure::NoMatchingVolume};
    }
    // The device is reported as soon as it is on the bus; its block device and the desktop's
    // mount of it follow seconds later. Meanwhile another volume of the same size may well be
    // mounted, so where the device's own volume can be told, only that one will do.
    const std::vector<std::string> own = OwnDriveModeDevices();
    const auto deadline =
        std::min(Clock::now() + m_DriveCopy.VolumeWaitLimit, m_DriveCopy.VolumeWaitDeadline);
    bool announced = false;
    for (;;) {
        const auto volumes = m_DriveCopy.pVolumes->ListVolumes();
        DriveChoice choice = ChooseImageDrive(volumes, own);
        if (choice.Result == DriveChoice::Kind::Chosen) {
            return DriveTarget{std::move(choice.Volume), DriveCopyFailure::None};
        }
        if (choice.Result == DriveChoice::Kind::NoMatch) {
            return DriveTarget{std::nullopt, DriveCopyFailure::NoMatchingVolume};
        }
        if (std::none_of(own.begin(), own.end(), [&](const std::string& device) {
                return m_DriveCopy.pVolumes->CanFindVolumesOf(device);
            })) {
            return DriveTarget{std::nullopt, DriveCopyFailure::DeviceLeft};
        }
        // Where nothing mounts the volume by itself, the run mounts it, and looks again at once.
        const auto attempt = mount.MountOwnVolume(own);
        if (attempt == CDriveVolumeMount::Attempt::Refused) {
            return DriveTarget{std::nullopt, DriveCopyFailureForMount(mount.RefusalError())};
        }
        if (attempt == CDriveVolumeMount::Attempt::Mounted) {
            continue;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return DriveTarget{std::nullopt, DriveCopyFailure::VolumeNotMounted};
        }
        if (!announced) {
            m_View.ShowDriveVolumeWait(std::chrono::ceil<std::chrono::seconds>(deadline - now));
            announced = true;
        }
        if (!SleepUnlessStopped(std::min<Clock::duration>(kDriveVolumeRecheck, deadline - now))) {
            return DriveTarget{std::nullopt, DriveCopyFailure::None};
        }
    }
}

bool CUpdateEngine::SleepUnlessStopped(std::chrono::steady_clock::duration length) {
    const auto end = Clock::now() + length;
    while (!StopRequested()) {
        const auto now = Clock::now();
        if (now >= end) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kShutdownCheckSlice, end - now));
    }
    return false;
}

}  // namespace tarvex
