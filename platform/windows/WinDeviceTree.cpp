#include "platform/windows/WinDeviceTree.h"

#include <setupapi.h>
#include <winioctl.h>

#include <vector>

#include "platform/DeviceNames.h"
#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

namespace {

// The published interface class of disks, {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}.
constexpr GUID kDiskInterfaceClass{
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// How far up the tree a disk's USB device may be (disk, mass-storage function, interface,
// device, and a hub or two above): a bound against a loop in a tree that is changing.
constexpr int kMostAncestors = 16;

// Opened with no access at all: enough for the storage queries, and no medium is touched.
UniqueHandle OpenForQueries(const std::wstring& path) {
    return AdoptHandle(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
}

std::optional<DWORD> DiskOfVolume(const std::wstring& volumeName) {
    const UniqueHandle volume = OpenForQueries(L"\\\\.\\" + volumeName);
    if (!volume) {
        return std::nullopt;
    }
    VOLUME_DISK_EXTENTS extents{};
    DWORD size = 0;
    // A volume over several extents fails with ERROR_MORE_DATA: not a drive-mode device's.
    if (!::DeviceIoControl(volume.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents,
                           sizeof extents, &size, nullptr) ||
        extents.NumberOfDiskExtents != 1) {
        return std::nullopt;
    }
    return extents.Extents[0].DiskNumber;
}

std::optional<DWORD> StorageDeviceNumber(const std::wstring& path) {
    const UniqueHandle device = OpenForQueries(path);
    if (!device) {
        return std::nullopt;
    }
    STORAGE_DEVICE_NUMBER number{};
    DWORD size = 0;
    if (!::DeviceIoControl(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                           sizeof number, &size, nullptr)) {
        return std::nullopt;
    }
    return number.DeviceNumber;
}

// The device node of the disk with this number.
std::optional<DEVINST> DiskNode(DWORD diskNumber) {
    GUID diskClass = kDiskInterfaceClass;
    const DeviceInfoSet set = AdoptDeviceInfoSet(::SetupDiGetClassDevsW(
        &diskClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        return std::nullopt;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &diskClass, index, &interfaceData)) {
            return std::nullopt;
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        const auto path = DeviceInterfacePath(set.get(), interfaceData, &device);
        if (path && StorageDeviceNumber(*path) == diskNumber) {
            return device.DevInst;
        }
    }
}

}  // namespace

std::optional<std::wstring> DeviceInstanceId(DEVINST device) {
    ULONG length = 0;
    if (::CM_Get_Device_ID_Size(&length, device, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring id(length + 1, L'\0');
    if (::CM_Get_Device_IDW(device, id.data(), static_cast<ULONG>(id.size()), 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    id.resize(length);
    return id;
}

std::vector<std::wstring> AncestorsOfVolumeDisk(const std::wstring& volumeName) {
    std::vector<std::wstring> ancestors;
    const auto diskNumber = DiskOfVolume(volumeName);
    if (!diskNumber) {
        return ancestors;
    }
    const auto disk = DiskNode(*diskNumber);
    if (!disk) {
        return ancestors;
    }
    DEVINST node = *disk;
    for (int up = 0; up < kMostAncestors; ++up) {
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        if (const auto id = DeviceInstanceId(parent)) {
            ancestors.push_back(*id);
        }
        node = parent;
    }
    return ancestors;
}

bool DeviceNodePresent(const std::wstring& instanceId) {
    // A walk over every present node rather than CM_Locate_DevNodeW, which wine lacks.
    const DeviceInfoSet set = AdoptDeviceInfoSet(
        ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!set) {
        return false;
    }
    const std::string wanted = WideToUtf8(instanceId);
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!::SetupDiEnumDeviceInfo(set.get(), index, &device)) {
            return false;
        }
        const auto id = DeviceInstanceId(device.DevInst);
        if (id && SameDeviceName(WideToUtf8(*id), wanted)) {
            return true;
        }
    }
}

std::vector<std::wstring> CWinDeviceTree::AncestorsOfVolumeDisk(const std::wstring& volumeName) {
    return tarvex::AncestorsOfVolumeDisk(volumeName);
}

bool CWinDeviceTree::DeviceNodePresent(const std::wstring& instanceId) {
    return tarvex::DeviceNodePresent(instanceId);
}

CWinDeviceTree& SystemDeviceTree() {
    static CWinDeviceTree tree;
    return tree;
}

}  // namespace tarvex
