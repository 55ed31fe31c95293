#include "update/DriveVolumeMount.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvex {

bool IsDriveVolumeFileSystem(const std::string& fileSystemType) {
    static constexpr std::array<std::string_view, 3> kFatFamily{"vfat", "msdos", "exfat"};
    return std::find(kFatFamily.begin(), kFatFamily.end(), fileSystemType) != kFatFamily.end();
}

bool MayMountForCopy(const MountableVolume& volume, std::span<const std::string> ownDevices) {
    const bool own = !volume.UsbDeviceSystemPath.empty() &&
                     std::find(ownDevices.begin(), ownDevices.end(), volume.UsbDeviceSystemPath) !=
                         ownDevices.end();
    return own && !volume.Id.empty() && IsDriveVolumeFileSystem(volume.FileSystemType) &&
           volume.SizeBytes >= kImageDriveCapacity && volume.SizeBytes < kMountableDriveSizeLimit &&
           volume.MountPoints.empty();
}

std::optional<MountableVolume> ChooseVolumeToMount(std::span<const MountableVolume> volumes,
                                                   std::span<const std::string> ownDevices) {
    const MountableVolume* pChosen = nullptr;
    for (const auto& volume : volumes) {
        if (MayMountForCopy(volume, ownDevices) &&
            (pChosen == nullptr || volume.DevicePath < pChosen->DevicePath)) {
            pChosen = &volume;
        }
    }
    return pChosen != nullptr ? std::optional(*pChosen) : std::nullopt;
}

DriveCopyFailure DriveCopyFailureForMount(VolumeMountError refusal) {
    switch (refusal) {
        case VolumeMountError::NotAuthorized:
            return DriveCopyFailure::MountNotAuthorized;
        case VolumeMountError::NeedsAuthentication:
            return DriveCopyFailure::MountNeedsAuthentication;
        default:
            return DriveCopyFailure::MountFailed;
    }
}

CDriveVolumeMount::CDriveVolumeMount(CVolumeMounter* pMounter, CUpdateView& view,
                                     bool allowAuthentication)
    : m_pMounter(pMounter), m_View(view), m_bAllowAuthentication(allowAuthentication) {}

CDriveVolumeMount::~CDriveVolumeMount() {
    UnmountWhatWasMounted();
}

CDriveVolumeMount::Attempt CDriveVolumeMount::MountOwnVolume(
    std::span<const std::string> ownDevices) {
    if (m_pMounter == nullptr || m_bNoService) {
        return Attempt::Unavailable;
    }
    if (m_bTried) {
        return Attempt::NothingToMount;
    }
    std::vector<MountableVolume> known;
    for (const auto& device : ownDevices) {
        VolumesOfDevice listed = m_pMounter->ListVolumesOf(device);
        if (listed.Error == VolumeMountError::NoService) {
            m_bNoService = true;
            return Attempt::Unavailable;
        }
        std::move(listed.Volumes.begin(), listed.Volumes.end(), std::back_inserter(known));
    }
    // Somebody else's mount of it (one this process's mount table does not show, or one of
    // another file system) is theirs to keep: the run waits rather than mount a second time.
    const std::optional<MountableVolume> chosen = ChooseVolumeToMount(known, ownDevices);
    if (!chosen) {
        return Attempt::NothingToMount;
    }
    m_bTried = true;
    m_View.ShowDriveMountStep({DriveMountStep::Mounting, chosen->DevicePath, {}, {}});
    const VolumeMountResult mounted = m_pMounter->Mount(chosen->Id, m_bAllowAuthentication);
    if (mounted.Error == VolumeMountError::AlreadyMounted) {
        // Mounted by somebody else in the meantime: theirs, and the list will show it.
        return Attempt::NothingToMount;
    }
    if (!mounted.Ok()) {
        m_RefusalError = mounted.Error;
        m_View.ShowDriveMountStep(
            {DriveMountStep::MountRefused, chosen->DevicePath, {}, mounted.Message});
        return Attempt::Refused;
    }
    m_Mounted = chosen;
    m_View.ShowDriveMountStep(
        {DriveMountStep::Mounted, chosen->DevicePath, mounted.MountPoint, {}});
    return Attempt::Mounted;
}

void CDriveVolumeMount::UnmountWhatWasMounted(const std::function<bool()>& deviceStillThere) {
    if (!m_Mounted || m_pMounter == nullptr) {
        return;
    }
    const MountableVolume volume = std::move(*m_Mounted);
    m_Mounted.reset();
    const VolumeMountResult unmounted = m_pMounter->Unmount(volume.Id);
    if (unmounted.Ok()) {
        m_View.ShowDriveMountStep({DriveMountStep::Unmounted, volume.DevicePath, {}, {}});
        return;
    }
    const bool gone = unmounted.Error == VolumeMountError::NoSuchVolume ||
                      (deviceStillThere && !deviceStillThere());
    m_View.ShowDriveMountStep(
        {gone ? DriveMountStep::LeftWithDevice : DriveMountStep::UnmountFailed,
         volume.DevicePath,
         {},
         unmounted.Message});
}

}  // namespace tarvex
