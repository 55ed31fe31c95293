// The Linux factory hands out every service, the real backends behind them: on a sysfs tree the
// test lays out, its HID port and USB list see exactly the devices of that tree.

#include <gtest/gtest.h>

#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

#include "platform/SystemServices.h"
#include "platform/linux/FlockDeviceLocks.h"
#include "platform/linux/LogindSleepInhibitor.h"
#include "platform/linux/MountedVolumeList.h"
#include "platform/linux/PosixFileWriter.h"
#include "platform/linux/UDisksVolumeMounter.h"
#include "tests/platform/FakeSysfs.h"

namespace tarvex {
namespace {

using SystemServicesOnATree = testing::FakeSysfsTest;

TEST_F(SystemServicesOnATree, EveryServiceIsThereAndSeesTheMachinesDevices) {
    const auto usb = Sysfs().AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", "3a7e\n", "6a11\n");
    Sysfs().AddHidDevice(Sysfs().AddUsbInterface(usb, 0), 3, 0x3A7E, 0x6A11, 0,
                         testing::kOneCollectionDescriptor);

    const SystemServices services = CreateSystemServices();
    ASSERT_TRUE(services.HidPort);
    ASSERT_TRUE(services.UsbDevices);
    ASSERT_TRUE(services.DeviceNotices);
    EXPECT_GE(services.DeviceNotices->NoticeFd(), 0);
    EXPECT_EQ(testing::DescribeEach(services.HidPort->ListHidInterfaces()),
              std::vector<std::string>{"/dev/hidraw0 3a7e:6a11"});
    EXPECT_EQ(testing::DescribeEach(services.UsbDevices->ListUsbDevices()),
              std::vector<std::string>{"3a7e:6a11 " + usb.string()});
}

// The front ends take a run's guards and the drive copy's services from these factories alone;
// the engine's tests hand in stand-ins, so only this shows that the programs get the real ones.
TEST(SystemServices, ARunsGuardsAndTheFileSystemServicesAreTheRealBackends) {
    const RunGuardSystemServices guards = CreateRunGuardServices();
    EXPECT_NE(dynamic_cast<CFlockDeviceLocks*>(guards.DeviceLocks.get()), nullptr)
        << "no device lock: two programs could write to one device at once";
    EXPECT_NE(dynamic_cast<CLogindSleepInhibitor*>(guards.SleepInhibitor.get()), nullptr)
        << "no sleep inhibitor: the machine could suspend in the middle of an update";

    const FileSystemServices files = CreateFileSystemServices();
    EXPECT_NE(dynamic_cast<CMountedVolumeList*>(files.Volumes.get()), nullptr);
    EXPECT_NE(dynamic_cast<CPosixFileWriter*>(files.FileWriter.get()), nullptr);
    EXPECT_NE(dynamic_cast<CUDisksVolumeMounter*>(files.VolumeMounter.get()), nullptr)
        << "no mounter: on a desktop that mounts nothing, a drive copy would wait in vain";
}

// Which USB device a mounted volume lives on, from the block device its mount names: without
// it, any volume of the device's size (another USB stick) would do for the drive copy.
TEST_F(SystemServicesOnATree, TheVolumeListTellsWhichUsbDeviceHoldsEachVolume) {
    const auto device =
        Sysfs().AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", "3a7e\n", "6a01\n");
    const auto deviceDisk = Sysfs().AddBlockDevice(
        Sysfs().AddUsbInterface(device, 0) / "host6/target6:0:0/6:0:0:0", "sdb", 8, 16, "disk");
    Sysfs().AddBlockDevice(deviceDisk, "sdb1", 8, 17, "partition");
    const auto stick = Sysfs().AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-4", "0781\n", "5567\n");
    const auto stickDisk = Sysfs().AddBlockDevice(
        Sysfs().AddUsbInterface(stick, 0) / "host7/target7:0:0/7:0:0:0", "sdc", 8, 32, "disk");
    Sysfs().AddBlockDevice(stickDisk, "sdc1", 8, 33, "partition");
    const auto nvme = Sysfs().AddBlockDevice("/sys/devices/pci0000:00/0000:00:1d.0/nvme/nvme0",
                                             "nvme0n1", 259, 0, "disk");
    Sysfs().AddBlockDevice(nvme, "nvme0n1p1", 259, 1, "partition");

    const auto table =
        std::filesystem::temp_directory_path() / ("tarvex-mountinfo-" + std::to_string(::getpid()));
    std::ofstream(table) << "25 1 259:1 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p1 rw\n"
                            "36 25 8:17 / /media/user/DEVICE rw shared:2 - vfat /dev/sdb1 rw\n"
                            "37 25 8:33 / /media/user/STICK rw shared:3 - vfat /dev/sdc1 rw\n"
                            "38 25 0:45 / /tmp rw shared:4 - tmpfs tmpfs rw\n";
    CMountedVolumeList list(table);
    const auto volumes = list.ListVolumes();
    std::filesystem::remove(table);

    const struct {
        const char* MountPoint;
        std::string UsbDevice;
        std::uint64_t FileSystemId;
    } expected[] = {
        {"/", "", makedev(259, 1)},
        {"/media/user/DEVICE", device.string(), makedev(8, 17)},
        {"/media/user/STICK", stick.string(), makedev(8, 33)},
        {"/tmp", "", makedev(0, 45)},
    };
    ASSERT_EQ(volumes.size(), std::size(expected));
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        SCOPED_TRACE(expected[i].MountPoint);
        EXPECT_EQ(volumes[i].MountPoint, expected[i].MountPoint);
        EXPECT_EQ(volumes[i].UsbDeviceSystemPath, expected[i].UsbDevice);
        EXPECT_EQ(volumes[i].FileSystemId, expected[i].FileSystemId);
    }
    EXPECT_TRUE(list.CanFindVolumesOf(device.string()));
    EXPECT_TRUE(list.CanFindVolumesOf(stick.string()));
    EXPECT_FALSE(list.CanFindVolumesOf((device / "1-3:1.0").string()));  // an interface
    EXPECT_FALSE(list.CanFindVolumesOf("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-9"));
    EXPECT_FALSE(list.CanFindVolumesOf(""));
}

}  // namespace
}  // namespace tarvex
