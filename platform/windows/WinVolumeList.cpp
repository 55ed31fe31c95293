#include "platform/windows/WinVolumeList.h"

#include <windows.h>

#include <optional>
#include <string>

#include "platform/windows/UsbInstanceId.h"
#include "platform/windows/Utf16Text.h"
#include "platform/windows/VolumeCapacity.h"
#include "platform/windows/WinDeviceTree.h"

namespace tarvex {

namespace {

// For the life of one listing: a drive without its medium fails the call instead of showing
// the system's "insert a disk" box. Per thread, so that no other thread's calls change.
class CNoMediumPrompts {
public:
    CNoMediumPrompts() {
        m_bChanged = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
                                          &m_PreviousMode) != 0;
    }
    ~CNoMediumPrompts() {
        if (m_bChanged) {
            ::SetThreadErrorMode(m_PreviousMode, nullptr);
        }
    }
    CNoMediumPrompts(const CNoMediumPrompts&) = delete;
    CNoMediumPrompts& operator=(const CNoMediumPrompts&) = delete;

private:
    DWORD m_PreviousMode = 0;
    bool m_bChanged = false;
};

std::uint64_t CapacityOf(const std::wstring& root) {
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters)) {
        return 0;
    }
    return VolumeCapacity(totalClusters, sectorsPerCluster, bytesPerSector);
}

std::optional<std::uint64_t> VolumeSerialOf(const std::wstring& root) {
    DWORD serial = 0;
    if (!::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
        return std::nullopt;
    }
    return serial;
}

// The volume's root under its GUID name, when a file can be reached through it: a folder of
// that name answers.
std::optional<std::wstring> VolumeGuidRoot(const std::wstring& root) {
    wchar_t name[MAX_PATH] = {};
    if (!::GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH)) {
        return std::nullopt;
    }
    const DWORD attributes = ::GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    return std::wstring(name);
}

}  // namespace

bool SizesDriveType(unsigned driveType) {
    return driveType == DRIVE_REMOVABLE || driveType == DRIVE_FIXED || driveType == DRIVE_RAMDISK;
}

bool CWinVolumeList::CanFindVolumesOf(const std::string& usbDeviceSystemPath) {
    return !usbDeviceSystemPath.empty() &&
           m_Tree.DeviceNodePresent(Utf8ToWide(usbDeviceSystemPath));
}

std::vector<VolumeInfo> CWinVolumeList::ListVolumes() {
    const CNoMediumPrompts quiet;
    std::vector<VolumeInfo> volumes;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const std::wstring name{letter, L':'};
        const std::wstring root = name + L'\\';
        const UINT type = ::GetDriveTypeW(root.c_str());
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) {
            continue;
        }
        VolumeInfo volume;
        volume.MountPoint = root;
        volume.SourceDevice = WideToUtf8(name);
        if (SizesDriveType(type)) {
            volume.CapacityBytes = CapacityOf(root);
            volume.FileSystemId = VolumeSerialOf(root);
            if (const auto guidRoot = VolumeGuidRoot(root)) {
                volume.SourceDevice = WideToUtf8(*guidRoot);
            }
            const auto ancestors = m_Tree.AncestorsOfVolumeDisk(name);
            volume.UsbDeviceSystemPath = WideToUtf8(std::wstring(HoldingUsbDevice(ancestors)));
        }
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

}  // namespace tarvex
