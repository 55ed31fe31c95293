#include "sim/VirtualDriveVolume.h"

#include "update/DriveCopy.h"

namespace tarvex::sim {

namespace {

// Where the volume says it is mounted. Nothing is ever opened there: the writes stay in memory.
const std::filesystem::path& MountPoint() {
    static const std::filesystem::path mountPoint("/virtual-drive-volume");
    return mountPoint;
}

FileWriteResult NotOnTheVolume() {
    return FileWriteResult{FileWriteError::Other, FileWriteStep::Open, 0,
                           "not a file in the virtual volume's root"};
}

}  // namespace

CVirtualDriveVolume::CVirtualDriveVolume(VirtualVolumeMount mount, std::string deviceSystemPath,
                                         std::chrono::milliseconds delay)
    : m_Mount(mount), m_DeviceSystemPath(std::move(deviceSystemPath)), m_Delay(delay) {}

std::vector<VolumeInfo> CVirtualDriveVolume::ListVolumes() {
    VolumeInfo volume;
    volume.MountPoint = MountPoint();
    volume.SourceDevice = "virtual";
    volume.CapacityBytes = kImageDriveCapacity;
    std::lock_guard lock(m_Lock);
    switch (m_Mount) {
        case VirtualVolumeMount::Never:
            return {};
        case VirtualVolumeMount::Untied:
            return {volume};
        case VirtualVolumeMount::Late:
            break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_FirstLook) {
        m_FirstLook = now;
    }
    if (now - *m_FirstLook < m_Delay) {
        return {};
    }
    volume.UsbDeviceSystemPath = m_DeviceSystemPath;
    return {volume};
}

bool CVirtualDriveVolume::CanFindVolumesOf(const std::string& usbDeviceSystemPath) {
    return m_Mount != VirtualVolumeMount::Untied && usbDeviceSystemPath == m_DeviceSystemPath;
}

FileWriteResult CVirtualDriveVolume::WriteWholeFile(const std::filesystem::path& path,
                                                    std::span<const std::uint8_t> bytes) {
    if (path.parent_path() != MountPoint() || !path.has_filename()) {
        return NotOnTheVolume();
    }
    std::lock_guard lock(m_Lock);
    m_Written.assign(bytes.begin(), bytes.end());
    return FileWriteResult{FileWriteError::None, FileWriteStep::Close, bytes.size(), {}};
}

FileWriteResult CVirtualDriveVolume::WriteFileOnVolume(const VolumeInfo& volume,
                                                       const std::filesystem::path& name,
                                                       std::span<const std::uint8_t> bytes) {
    if (volume.MountPoint != MountPoint()) {
        return NotOnTheVolume();
    }
    return WriteWholeFile(volume.MountPoint / name, bytes);
}

std::vector<std::uint8_t> CVirtualDriveVolume::WrittenFile() const {
    std::lock_guard lock(m_Lock);
    return m_Written;
}

}  // namespace tarvex::sim
