// The drive letters as the drive-copy update sees them on Windows (under wine: C: is the wine
// prefix's folder and Z: the host's root). A letter without a volume, or a volume without its
// medium, must neither stop the listing nor ask the user anything.

#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <map>
#include <optional>

#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinDeviceTree.h"
#include "platform/windows/WinFileWriter.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinVolumeList.h"

namespace tarvex {
namespace {

TEST(WinVolumeList, EveryLetterWithAVolumeInLetterOrder) {
    CWinVolumeList list;
    const auto volumes = list.ListVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_TRUE(std::is_sorted(volumes.begin(), volumes.end(), [](const auto& a, const auto& b) {
        return a.MountPoint.native() < b.MountPoint.native();
    }));
    const DWORD letters = ::GetLogicalDrives();
    for (const auto& volume : volumes) {
        const std::wstring root = volume.MountPoint.native();
        ASSERT_EQ(root.size(), 3U);
        EXPECT_EQ(root.substr(1), L":\\");
        EXPECT_NE(letters & (1U << (root[0] - L'A')), 0U) << volume.SourceDevice;
        const std::string name{static_cast<char>(root[0]), ':'};
        // Wine names every letter's volume by a GUID but opens no file through that name.
        EXPECT_TRUE(volume.SourceDevice == name ||
                    IsVolumeGuidRoot(Utf8ToWide(volume.SourceDevice)))
            << volume.SourceDevice;
        EXPECT_TRUE(volume.UsbDeviceSystemPath.empty());
    }
    const auto system = std::find_if(volumes.begin(), volumes.end(),
                                     [](const auto& v) { return v.MountPoint == L"C:\\"; });
    ASSERT_NE(system, volumes.end());
    EXPECT_GT(system->CapacityBytes, 0U) << "a local disk is sized";
    DWORD serial = 0;
    ASSERT_TRUE(
        ::GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(system->FileSystemId, std::optional<std::uint64_t>(serial))
        << "the serial number the writer checks";
}

// A device tree of the test's own: wine has no disk below a USB device.
class CFakeDeviceTree final : public CWinDeviceTree {
public:
    std::map<std::wstring, std::vector<std::wstring>> Ancestors;  // by volume name ("C:")
    std::vector<std::wstring> Present;

    std::vector<std::wstring> AncestorsOfVolumeDisk(const std::wstring& volumeName) override {
        const auto found = Ancestors.find(volumeName);
        return found == Ancestors.end() ? std::vector<std::wstring>{} : found->second;
    }
    bool DeviceNodePresent(const std::wstring& instanceId) override {
        return std::find(Present.begin(), Present.end(), instanceId) != Present.end();
    }
};

TEST(WinVolumeList, AVolumeIsTiedToTheUsbDeviceAboveItsDisk) {
    CFakeDeviceTree tree;
    // C: on a stick: its disk, then the mass-storage interface of a composite device, then the
    // device, then the hub. Z: on a disk of another bus.
    tree.Ancestors[L"C:"] = {L"USB\\VID_3A7E&PID_6A01&MI_00\\6&1B2C3D4&0&0000",
                             L"USB\\VID_3A7E&PID_6A01\\TARVEX-STICK-1", L"USB\\ROOT_HUB30\\4&1&0"};
    tree.Ancestors[L"Z:"] = {L"PCI\\VEN_8086&DEV_A282\\3&11583659&0&B8", L"ACPI\\PNP0A08\\0"};
    tree.Present = {L"USB\\VID_3A7E&PID_6A01\\TARVEX-STICK-1"};
    CWinVolumeList list(tree);

    const auto volumes = list.ListVolumes();
    const auto byRoot = [&](const wchar_t* root) {
        return std::find_if(volumes.begin(), volumes.end(),
                            [&](const auto& v) { return v.MountPoint == root; });
    };
    const auto stick = byRoot(L"C:\\");
    ASSERT_NE(stick, volumes.end());
    EXPECT_EQ(stick->UsbDeviceSystemPath, "USB\\VID_3A7E&PID_6A01\\TARVEX-STICK-1");
    const auto other = byRoot(L"Z:\\");
    ASSERT_NE(other, volumes.end());
    EXPECT_EQ(other->UsbDeviceSystemPath, "");

    EXPECT_TRUE(list.CanFindVolumesOf("USB\\VID_3A7E&PID_6A01\\TARVEX-STICK-1"));
    EXPECT_FALSE(list.CanFindVolumesOf("USB\\VID_3A7E&PID_6A01\\TARVEX-STICK-2"));
}

TEST(WinVolumeList, OnlyLocalDrivesAreSized) {
    EXPECT_TRUE(SizesDriveType(DRIVE_REMOVABLE));
    EXPECT_TRUE(SizesDriveType(DRIVE_FIXED));
    EXPECT_TRUE(SizesDriveType(DRIVE_RAMDISK));
    EXPECT_FALSE(SizesDriveType(DRIVE_REMOTE)) << "a stale server must not hang the update";
    EXPECT_FALSE(SizesDriveType(DRIVE_CDROM));
    EXPECT_FALSE(SizesDriveType(DRIVE_UNKNOWN));
    EXPECT_FALSE(SizesDriveType(DRIVE_NO_ROOT_DIR));
}

TEST(WinVolumeList, ListingLeavesTheThreadsErrorModeAsItWas) {
    const DWORD before = ::GetThreadErrorMode();
    CWinVolumeList().ListVolumes();
    EXPECT_EQ(::GetThreadErrorMode(), before);
}

// Whether a device's volumes can be told is whether the system has the device: a device it
// does not have (gone, or never there) must not be waited for as if its volume were to come.
TEST(WinVolumeList, VolumesCanBeFoundOnlyOfADeviceTheSystemHas) {
    CWinVolumeList list;
    EXPECT_FALSE(list.CanFindVolumesOf(""));
    EXPECT_FALSE(list.CanFindVolumesOf("USB\\VID_3A7E&PID_6A01\\TARVEX-NOT-ATTACHED"));

    const DeviceInfoSet set = AdoptDeviceInfoSet(
        ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!set || !::SetupDiEnumDeviceInfo(set.get(), 0, &device)) {
        GTEST_SKIP() << "the system lists no device node";
    }
    const auto id = DeviceInstanceId(device.DevInst);
    ASSERT_TRUE(id);
    EXPECT_TRUE(list.CanFindVolumesOf(WideToUtf8(*id))) << WideToUtf8(*id);
}

}  // namespace
}  // namespace tarvex
