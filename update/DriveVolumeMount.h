#pragma once
// The device's own volume, mounted by the run itself where nothing else mounts it (a desktop
// without automounting, a console session), and left as it was found afterwards: what the run
// mounted it unmounts once the copy has been flushed; a volume somebody else mounted stays.
//
// The choices are made here, over a CVolumeMounter that only asks the system; tests hand in a
// fake of it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/VolumeMounter.h"
#include "update/DriveCopy.h"
#include "update/UpdateView.h"

namespace tarvex {

// The block device's size bounds the file system's, never the other way round: a FAT of the
// device's capacity sits on a block device at least that large, and its own tables and root
// folder add only a few KiB. Anything twice the device's capacity or more is not its volume.
inline constexpr std::uint64_t kMountableDriveSizeLimit = 2 * kImageDriveCapacity;

// The file systems a drive-mode device's volume can carry, as the disk service names them.
bool IsDriveVolumeFileSystem(const std::string& fileSystemType);

// Whether the run may mount `volume` for the copy: on one of `ownDevices` (the attached
// drive-mode devices whose volumes the system can tell), a FAT-family file system, of a size
// that can hold the device's capacity and no more, and mounted nowhere yet. Pure.
bool MayMountForCopy(const MountableVolume& volume, std::span<const std::string> ownDevices);

// The first of `volumes` (by device node, in byte order) that MayMountForCopy accepts. Pure.
std::optional<MountableVolume> ChooseVolumeToMount(std::span<const MountableVolume> volumes,
                                                   std::span<const std::string> ownDevices);

// One drive-copy run's mount: made on the run's worker and used there only.
class CDriveVolumeMount {
public:
    enum class Attempt {
        Unavailable,     // no disk service: the run waits for the system's own mount
        NothingToMount,  // no volume of the device's qualifies (yet): look again later
        Mounted,         // the run mounted one; the volume list shows it now
        Refused,         // the service refused: the run ends, nothing written (RefusalError)
    };

    // `pMounter` may be null: every attempt is then Unavailable.
    CDriveVolumeMount(CVolumeMounter* pMounter, CUpdateView& view, bool allowAuthentication);
    // Unmounts what the run mounted and did not unmount yet (a run that ended before its copy).
    ~CDriveVolumeMount();
    CDriveVolumeMount(const CDriveVolumeMount&) = delete;
    CDriveVolumeMount& operator=(const CDriveVolumeMount&) = delete;

    // One look, while none of the own devices' volumes is mounted: mounts the volume
    // ChooseVolumeToMount picks, and tells the view. A run mounts at most once; after that, and
    // once the service turned out to be missing, it asks nothing more.
    Attempt MountOwnVolume(std::span<const std::string> ownDevices);
    VolumeMountError RefusalError() const { return m_RefusalError; }

    // What the run mounted, if anything, is unmounted; the view is told how that went. A failed
    // unmount is no failure of a copy that was flushed before: when the device has left
    // (`deviceStillThere` says no, or the service no longer knows the volume) there is nothing
    // left to unmount; otherwise the view says that the volume stays mounted.
    void UnmountWhatWasMounted(const std::function<bool()>& deviceStillThere = {});

    bool HoldsMount() const { return m_Mounted.has_value(); }

private:
    CVolumeMounter* const m_pMounter;
    CUpdateView& m_View;
    const bool m_bAllowAuthentication;
    bool m_bTried = false;      // a mount was asked for (once per run)
    bool m_bNoService = false;  // the service is missing; asked no more
    VolumeMountError m_RefusalError = VolumeMountError::None;
    std::optional<MountableVolume> m_Mounted;  // what this run mounted and still must unmount
};

// The failure a refused mount ends the run with. Pure.
DriveCopyFailure DriveCopyFailureForMount(VolumeMountError refusal);

}  // namespace tarvex
