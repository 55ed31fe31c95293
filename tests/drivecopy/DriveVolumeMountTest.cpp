// The drive-copy run on a system where nothing mounts the device's volume: the engine mounts it
// through the disk service (a fake of it here; the real one runs in the QEMU guest), copies onto
// it, and unmounts only what it mounted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "platform/linux/PosixFileWriter.h"
#include "sim/SampleImage.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"
#include "tests/update/EngineTestSupport.h"
#include "update/DriveVolumeMount.h"

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kOwnUsbPath = "virtual:usb-3a7e:6a01";    // the drive-mode device
const std::string kOtherUsbPath = "virtual:usb-3a7e:6b11";  // a device that is not
constexpr std::uint64_t kBlockSize = 213 * 512;             // a 104 KiB FAT's block device

// The disk service as the engine sees it: the volumes it knows, and what a mount does to the
// volume list (the test says which folder appears).
class CFakeVolumeMounter final : public CVolumeMounter {
public:
    std::vector<MountableVolume> Known;
    VolumeMountError ListError = VolumeMountError::None;
    VolumeMountResult MountAnswer;
    VolumeMountResult UnmountAnswer;
    std::function<void()> OnMounted;
    std::function<void()> OnUnmount;  // before it answers

    VolumesOfDevice ListVolumesOf(const std::string& device) override {
        std::lock_guard lock(m_Lock);
        VolumesOfDevice listed{{}, ListError, {}};
        for (const auto& volume : Known) {
            if (ListError == VolumeMountError::None && volume.UsbDeviceSystemPath == device) {
                listed.Volumes.push_back(volume);
            }
        }
        return listed;
    }
    VolumeMountResult Mount(const std::string& id, bool allowAuthentication) override {
        {
            std::lock_guard lock(m_Lock);
            m_Calls.push_back("mount " + id + (allowAuthentication ? " with password" : ""));
            if (!MountAnswer.Ok()) {
                return MountAnswer;
            }
        }
        if (OnMounted) {
            OnMounted();
        }
        return MountAnswer;
    }
    VolumeMountResult Unmount(const std::string& id) override {
        if (OnUnmount) {
            OnUnmount();
        }
        std::lock_guard lock(m_Lock);
        m_Calls.push_back("unmount " + id);
        return UnmountAnswer;
    }
    std::vector<std::string> Calls() const {
        std::lock_guard lock(m_Lock);
        return m_Calls;
    }

private:
    mutable std::mutex m_Lock;
    std::vector<std::string> m_Calls;
};

MountableVolume Volume(std::string id, std::string device, std::string usb,
                       std::string type = "vfat", std::uint64_t size = kBlockSize,
                       std::vector<std::filesystem::path> mountPoints = {}) {
    return MountableVolume{std::move(id), std::move(device),     std::move(usb), std::move(type),
                           size,          std::move(mountPoints)};
}

std::vector<DriveMountStep> Steps(const CRecordingView& view) {
    std::vector<DriveMountStep> steps;
    for (const auto& notice : view.MountSteps()) {
        steps.push_back(notice.Step);
    }
    return steps;
}

TEST(ChooseVolumeToMount, OnlyAnUnmountedFatOfTheDevicesSizeOnItsOwnDevice) {
    const std::vector<std::string> own{kOwnUsbPath};
    const struct {
        const char* Name;
        MountableVolume Candidate;
        bool Mountable;
    } cases[] = {
        {"the device's FAT", Volume("/b/sdb", "/dev/sdb", kOwnUsbPath), true},
        {"msdos and exfat count as FAT",
         Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "exfat", kImageDriveCapacity), true},
        {"another device's FAT", Volume("/b/sdc", "/dev/sdc", kOtherUsbPath), false},
        {"a volume on no USB device", Volume("/b/sda1", "/dev/sda1", ""), false},
        {"not FAT", Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "ext4"), false},
        {"no file system probed", Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, ""), false},
        {"too small to hold the device's capacity",
         Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "vfat", kImageDriveCapacity - 1), false},
        {"largest block device that may hold it",
         Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "vfat", kMountableDriveSizeLimit - 1), true},
        {"too large to be the device's volume",
         Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "vfat", kMountableDriveSizeLimit), false},
        {"mounted already (by somebody else)",
         Volume("/b/sdb", "/dev/sdb", kOwnUsbPath, "vfat", kBlockSize, {"/media/u/X"}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto chosen = ChooseVolumeToMount(std::span(&c.Candidate, 1), own);
        EXPECT_EQ(chosen.has_value(), c.Mountable);
    }
    // Of several, the first by device node, whatever order the service lists them in.
    const std::vector<MountableVolume> several{Volume("/b/sdc", "/dev/sdc", kOwnUsbPath),
                                               Volume("/b/sdb", "/dev/sdb", kOwnUsbPath)};
    EXPECT_EQ(ChooseVolumeToMount(several, own)->Id, "/b/sdb");
    EXPECT_FALSE(ChooseVolumeToMount(several, {}));
}

class DriveVolumeMountTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        m_Usb.AddDevice(kTargetVendorId, 0x6B11);  // not in drive mode: never asked about
        std::filesystem::create_directories(Own());
        std::filesystem::create_directories(Decoy());
        m_Volumes.SetKnownUsbDevices({kOwnUsbPath});
        // Another stick of the device's size, mounted: never the device's volume.
        m_Volumes.SetVolumes({Mounted(Decoy(), "/dev/sdc", kOtherUsbPath)});
        m_Mounter.Known = {Volume("/udisks/sdb", "/dev/sdb", kOwnUsbPath),
                           Volume("/udisks/sdc", "/dev/sdc", kOtherUsbPath)};
        m_Mounter.MountAnswer = {VolumeMountError::None, {}, Own()};
        // What the service's mount does: the volume list shows the device's volume from then on.
        m_Mounter.OnMounted = [this] {
            m_Volumes.SetVolumes(
                {Mounted(Decoy(), "/dev/sdc", kOtherUsbPath), Mounted(Own(), "/dev/sdb")});
        };
        m_Services = DriveCopyServices{&m_Volumes, &m_Usb, &m_Writer, {}};
        m_Services.VolumeWaitLimit = std::chrono::milliseconds(300);
        m_Services.pVolumeMounter = &m_Mounter;
        sim::SampleImageSpec spec;
        spec.LeadSize = 0x0010;
        spec.PayloadLength = 256;
        m_Image = sim::BuildSampleImage(spec);
        WriteBytes(ImagePath(), m_Image);
        m_View.ImageAnswer = ImagePath();
    }

    std::filesystem::path Own() const { return m_Folder.Path() / "media" / "own"; }
    std::filesystem::path Decoy() const { return m_Folder.Path() / "media" / "decoy"; }
    std::filesystem::path ImagePath() const { return m_Folder.Path() / "image.dat"; }
    static VolumeInfo Mounted(std::filesystem::path at, std::string device,
                              std::string usb = kOwnUsbPath) {
        return VolumeInfo{
            std::move(at), std::move(device), kImageDriveCapacity, std::move(usb), {}};
    }
    std::vector<std::uint8_t> Lead() const { return {m_Image.begin(), m_Image.begin() + 528}; }

    std::optional<UpdateOutcome> Run() {
        CUpdateEngine engine(m_Hid, m_View, m_Language, m_Services);
        engine.Initialise();
        if (!engine.OnUsbUpdate()) {
            ADD_FAILURE() << "the update button started nothing";
            return std::nullopt;
        }
        const auto outcome = m_View.WaitForRunEnd();
        m_Failure = engine.LastDriveCopyFailure();
        return outcome;
    }

    CScratchFolder m_Folder;
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    CFakeVolumeList m_Volumes;
    CPosixFileWriter m_Writer;
    CFakeVolumeMounter m_Mounter;
    DriveCopyServices m_Services;
    std::vector<std::uint8_t> m_Image;
    DriveCopyFailure m_Failure = DriveCopyFailure::None;
};

TEST_F(DriveVolumeMountTest, MountsTheDevicesOwnVolumeCopiesAndUnmountsItAgain) {
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(Own() / "1.dat"), Lead());
    EXPECT_FALSE(ReadBytes(Decoy() / "1.dat")) << "the other stick was written";
    EXPECT_THAT(m_Mounter.Calls(), ElementsAre("mount /udisks/sdb", "unmount /udisks/sdb"));
    EXPECT_THAT(Steps(m_View), ElementsAre(DriveMountStep::Mounting, DriveMountStep::Mounted,
                                           DriveMountStep::Unmounted));
    EXPECT_EQ(m_View.MountSteps()[1].MountPoint, Own());
    EXPECT_THAT(m_View.VolumeWaits(), IsEmpty()) << "mounted at once, nothing to wait for";
    EXPECT_EQ(m_View.SuccessBoxes().size(), 1U);
}

TEST_F(DriveVolumeMountTest, AVolumeMountedByTheUserIsUsedAndStaysMounted) {
    m_Volumes.SetVolumes({Mounted(Decoy(), "/dev/sdc", kOtherUsbPath), Mounted(Own(), "/dev/sdb")});
    m_Mounter.Known[0].MountPoints = {Own()};
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(Own() / "1.dat"), Lead());
    EXPECT_THAT(m_Mounter.Calls(), IsEmpty());
    EXPECT_THAT(Steps(m_View), IsEmpty());
}

// A volume mounted by somebody else where this process's mount table does not show it: the run
// does not mount it a second time, and waits for a mount it can see, as it always did.
TEST_F(DriveVolumeMountTest, AMountElsewhereIsLeftAloneAndTheRunWaits) {
    m_Mounter.Known[0].MountPoints = {"/run/elsewhere"};
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_Failure, DriveCopyFailure::VolumeNotMounted);
    EXPECT_THAT(m_Mounter.Calls(), IsEmpty());
    EXPECT_EQ(m_View.VolumeWaits().size(), 1U);
}

TEST_F(DriveVolumeMountTest, ARefusedMountEndsTheRunWithItsReasonAndWritesNothing) {
    const struct {
        VolumeMountError Error;
        DriveCopyFailure Failure;
        const char* ReasonPart;
    } cases[] = {
        {VolumeMountError::NotAuthorized, DriveCopyFailure::MountNotAuthorized,
         "does not allow the device's volume to be mounted"},
        {VolumeMountError::NeedsAuthentication, DriveCopyFailure::MountNeedsAuthentication,
         "needs a password"},
        {VolumeMountError::Failed, DriveCopyFailure::MountFailed, "could not be mounted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToString(c.Error));
        m_Mounter.MountAnswer = {c.Error, "org.freedesktop.UDisks2.Error.Whatever: no", {}};
        ASSERT_EQ(Run(), UpdateOutcome::Failed);
        EXPECT_EQ(m_Failure, c.Failure);
        EXPECT_THAT(m_View.FailureReasons().back(), HasSubstr(c.ReasonPart));
        EXPECT_THAT(m_View.FailureReasons().back(), HasSubstr("Nothing was written"));
        EXPECT_FALSE(ReadBytes(Own() / "1.dat"));
        EXPECT_EQ(m_Mounter.Calls().back(), "mount /udisks/sdb")
            << "unmounted what it did not mount";
        EXPECT_EQ(m_View.MountSteps().back().Step, DriveMountStep::MountRefused);
    }
}

TEST_F(DriveVolumeMountTest, WithoutTheDiskServiceTheRunWaitsForAMountAsBefore) {
    m_Mounter.ListError = VolumeMountError::NoService;
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_Failure, DriveCopyFailure::VolumeNotMounted);
    EXPECT_THAT(m_Mounter.Calls(), IsEmpty());
    EXPECT_EQ(m_View.VolumeWaits().size(), 1U);
}

// The service takes the block device in a moment after the kernel made it: the run waits and
// mounts it once the service knows it.
TEST_F(DriveVolumeMountTest, AVolumeTheServiceKnowsOnlyLaterIsMountedThen) {
    m_Services.VolumeWaitLimit = std::chrono::seconds(10);
    auto known = m_Mounter.Known;
    m_Mounter.Known.clear();
    // The list's hook is copied at each call: the count lives out here.
    int listings = 0;
    m_Volumes.SetOnListing([&] {
        if (++listings == 3) {
            m_Mounter.Known = known;
        }
    });
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(Own() / "1.dat"), Lead());
    EXPECT_EQ(m_View.VolumeWaits().size(), 1U);
    EXPECT_THAT(m_Mounter.Calls(), ElementsAre("mount /udisks/sdb", "unmount /udisks/sdb"));
}

// The mounted volume turns out not to have the device's capacity: nothing is written, and the
// mount goes again.
TEST_F(DriveVolumeMountTest, AMountedVolumeOfTheWrongCapacityIsUnmountedUnwritten) {
    m_Mounter.OnMounted = [this] {
        auto own = Mounted(Own(), "/dev/sdb");
        own.CapacityBytes = kImageDriveCapacity + 1024;
        m_Volumes.SetVolumes({own});
    };
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_Failure, DriveCopyFailure::NoMatchingVolume);
    EXPECT_FALSE(ReadBytes(Own() / "1.dat"));
    EXPECT_THAT(m_Mounter.Calls(), ElementsAre("mount /udisks/sdb", "unmount /udisks/sdb"));
}

// After the flush, an unmount that fails is no failure of the copy: when the device left with
// its volume there is nothing to unmount; when it is still there, the user is told it stays
// mounted.
TEST_F(DriveVolumeMountTest, AFailedUnmountAfterTheFlushIsNoCopyFailure) {
    const struct {
        const char* Name;
        VolumeMountError Error;
        bool DeviceStays;
        DriveMountStep Shown;
    } cases[] = {
        {"the service no longer knows it", VolumeMountError::NoSuchVolume, true,
         DriveMountStep::LeftWithDevice},
        {"the device has left", VolumeMountError::Failed, false, DriveMountStep::LeftWithDevice},
        {"busy, device still there", VolumeMountError::Failed, true, DriveMountStep::UnmountFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        m_Volumes.SetKnownUsbDevices({kOwnUsbPath});
        m_Volumes.SetVolumes({});
        m_Mounter.UnmountAnswer = {c.Error, "gone", {}};
        // The device leaves once the copy is flushed, before the unmount answers.
        m_Mounter.OnUnmount = [this, &c] {
            if (!c.DeviceStays) {
                m_Volumes.SetKnownUsbDevices({});
            }
        };
        ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
        EXPECT_EQ(ReadBytes(Own() / "1.dat"), Lead());
        EXPECT_EQ(m_View.MountSteps().back().Step, c.Shown);
        std::filesystem::remove(Own() / "1.dat");
    }
}

TEST_F(DriveVolumeMountTest, TheTerminalProgramSaysItMountedAndUnmounted) {
    CliOptions options;
    options.ImagePath = ImagePath();
    options.AssumeYes = true;
    std::ostringstream out;
    std::ostringstream err;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(RunCli(options, CliPlatform{m_Port, m_Usb, m_Language, m_Services},
                     CliStreams{out, err}, stop),
              kExitSuccess)
        << err.str();
    EXPECT_THAT(out.str(), HasSubstr("Mounting the drive-mode device's volume /dev/sdb...\n"
                                     "Mounted /dev/sdb at " +
                                     Own().string() + ".\n"));
    EXPECT_THAT(out.str(), HasSubstr("Unmounted /dev/sdb again.\n"));
    EXPECT_EQ(ReadBytes(Own() / "1.dat"), Lead());

    // Refused: the reason, status 1, nothing written; --mount-auth lets the service ask.
    std::filesystem::remove(Own() / "1.dat");
    m_Volumes.SetVolumes({Mounted(Decoy(), "/dev/sdc", kOtherUsbPath)});
    m_Mounter.MountAnswer = {
        VolumeMountError::NotAuthorized, "org.freedesktop.UDisks2.Error.NotAuthorized: no", {}};
    options.MountAuthentication = true;
    std::ostringstream refusedOut;
    std::ostringstream refusedErr;
    EXPECT_EQ(RunCli(options, CliPlatform{m_Port, m_Usb, m_Language, m_Services},
                     CliStreams{refusedOut, refusedErr}, stop),
              kExitUpdateFailed);
    EXPECT_THAT(refusedErr.str(), HasSubstr("Mounting /dev/sdb was refused: "
                                            "org.freedesktop.UDisks2.Error.NotAuthorized: no\n"));
    EXPECT_THAT(refusedErr.str(), HasSubstr("may not mount the drive-mode device's volume"));
    EXPECT_EQ(m_Mounter.Calls().back(), "mount /udisks/sdb with password");
    EXPECT_FALSE(ReadBytes(Own() / "1.dat"));
}

}  // namespace
}  // namespace tarvex::testing
