// The drive-copy run through the engine, over plain folders standing in for volumes: what the
// user sees, what is written where, and every way the run can end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "hid/DeviceIdentity.h"
#include "platform/linux/PosixFileWriter.h"
#include "sim/SampleImage.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"
#include "tests/update/EngineTestSupport.h"

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;

const std::string kSuccess = "Firmware upgraded successful!";
const std::string kFailure = "Firmware update failure";
const std::string kOpenError = "Open file error! Please check the file!";
const std::string kCaption = "Tarvex Update";
const std::string kOwnUsbPath = "virtual:usb-3a7e:6a01";  // what the virtual USB list reports

std::vector<std::string> Notices(const CRecordingView& view) {
    std::vector<std::string> texts;
    for (const auto& prompt : view.Prompts()) {
        texts.push_back(prompt.Text);
    }
    return texts;
}

class DriveCopyEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        for (const auto* name : {"program", "volume-a", "volume-b", "volume-big"}) {
            std::filesystem::create_directories(Root() / name);
        }
        m_Volumes.SetVolumes({
            {Root() / "volume-big", "big", 1 << 30, {}},
            {Root() / "volume-a", "a", kImageDriveCapacity, {}},
        });
        m_Services = DriveCopyServices{&m_Volumes, &m_Usb, &m_Writer, Root() / "program",
                                       Root() / "cache" / "tarvex-update"};
    }
    void TearDown() override { m_pEngine.reset(); }

    const std::filesystem::path& Root() const { return m_Folder.Path(); }

    std::vector<std::uint8_t> UseImage(std::vector<std::uint8_t> image) {
        const auto path = Root() / "chosen image.dat";
        WriteBytes(path, image);
        m_View.ImageAnswer = path;
        return image;
    }
    std::vector<std::uint8_t> UseImage(std::uint16_t leadSize) {
        sim::SampleImageSpec spec;
        spec.LeadSize = leadSize;
        spec.PayloadLength = 256;
        return UseImage(sim::BuildSampleImage(spec));
    }

    std::optional<UpdateOutcome> Run() {
        if (!m_pEngine) {
            m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, m_Services);
            m_pEngine->Initialise();
        }
        if (!m_pEngine->OnUsbUpdate()) {
            ADD_FAILURE() << "the update button started nothing";
            return std::nullopt;
        }
        return m_View.WaitForRunEnd();
    }

    std::optional<std::vector<std::uint8_t>> OnVolume(const char* volume) const {
        return ReadBytes(Root() / volume / "1.dat");
    }

    CScratchFolder m_Folder;
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    CFakeVolumeList m_Volumes;
    CPosixFileWriter m_RealWriter;
    CFaultyFileWriter m_Writer{m_RealWriter};
    DriveCopyServices m_Services;
    std::unique_ptr<CUpdateEngine> m_pEngine;
};

TEST_F(DriveCopyEngineTest, CopiesTheLeadSectionOntoTheMatchingVolume) {
    const auto image = UseImage(0x1000);
    const std::vector<std::uint8_t> lead(image.begin(), image.begin() + 4'608);

    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"), lead);
    EXPECT_EQ(ReadBytes(Root() / "program" / "1.dat"), lead);  // staged beside the program
    EXPECT_FALSE(OnVolume("volume-big"));
    EXPECT_FALSE(std::filesystem::exists(Root() / "cache"));
    EXPECT_THAT(m_View.SuccessBoxes(), ElementsAre(std::make_pair(kSuccess, kCaption)));
    EXPECT_TRUE(Notices(m_View).empty());
    EXPECT_THAT(m_View.Filters(), ElementsAre("File type(*.dat)|*.dat||"));
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::None);
    // No HID traffic on this path: the update device was never opened.
    EXPECT_TRUE(m_Hid.DevicePath().empty());
}

TEST_F(DriveCopyEngineTest, AnImageShorterThanItsLeadSectionIsCopiedWhole) {
    sim::SampleImageSpec spec;
    spec.LeadSize = 0x1000;
    auto image = sim::BuildSampleImage(spec);
    image.resize(2'000);
    UseImage(image);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"), image);
}

TEST_F(DriveCopyEngineTest, ASecondRunReplacesTheCopy) {
    const auto first = UseImage(0x1000);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    const auto second = UseImage(0x0000);  // 512 bytes: shorter than the first copy
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"),
              std::vector<std::uint8_t>(second.begin(), second.begin() + 512));
    EXPECT_EQ(ReadBytes(Root() / "program" / "1.dat"),
              std::vector<std::uint8_t>(second.begin(), second.begin() + 512));
    EXPECT_NE(first, second);
}

TEST_F(DriveCopyEngineTest, TheAttachedDevicesOwnVolumeIsPreferred) {
    m_Volumes.SetVolumes({
        {Root() / "volume-a", "a", kImageDriveCapacity, {}},
        {Root() / "volume-b", "b", kImageDriveCapacity + 1000, kOwnUsbPath},
    });
    UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_TRUE(OnVolume("volume-b"));
}

TEST_F(DriveCopyEngineTest, CancellingTheFileDialogEndsSilently) {
    m_View.ImageAnswer = std::nullopt;
    ASSERT_EQ(Run(), UpdateOutcome::Cancelled);
    EXPECT_TRUE(Notices(m_View).empty());
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_TRUE(m_Writer.Written().empty());
    EXPECT_EQ(m_Volumes.Calls(), 0U);
}

TEST_F(DriveCopyEngineTest, AnImageThatCannotTellItsLeadSizeIsRefused) {
    for (const std::size_t length : {0, 13}) {
        SCOPED_TRACE(length);
        UseImage(std::vector<std::uint8_t>(length, 0x10));
        ASSERT_EQ(Run(), UpdateOutcome::ImageRefused);
    }
    m_View.ImageAnswer = Root() / "no such image.dat";
    ASSERT_EQ(Run(), UpdateOutcome::ImageRefused);
    EXPECT_THAT(Notices(m_View), ElementsAre(kOpenError, kOpenError, kOpenError));
    EXPECT_TRUE(m_Writer.Written().empty());
    EXPECT_FALSE(OnVolume("volume-a"));
}

TEST_F(DriveCopyEngineTest, NoMatchingVolumeCopiesNothingAndSaysSo) {
    m_Volumes.SetVolumes({
        {Root() / "volume-a", "a", kImageDriveCapacity - 1, {}},
        {Root() / "volume-b", "b", kImageDriveCapacity + 1024, kOwnUsbPath},
    });
    UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_THAT(Notices(m_View), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::NoMatchingVolume);
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_FALSE(OnVolume("volume-b"));
    // Only the staging was written: nothing went to the current folder or anywhere else.
    EXPECT_THAT(m_Writer.Written(), ElementsAre(Root() / "program" / "1.dat"));
}

TEST_F(DriveCopyEngineTest, StagingFallsBackToTheCacheFolderAndFailsLoudlyWithoutOne) {
    // A plain file where the program's folder should be: nothing can be created in it, for
    // root as for anyone else.
    const auto notAFolder = Root() / "not-a-folder";
    WriteBytes(notAFolder, std::vector<std::uint8_t>{0});
    m_Services.ProgramFolder = notAFolder;
    const auto image = UseImage(0x0010);
    const std::vector<std::uint8_t> lead(image.begin(), image.begin() + 528);

    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(Root() / "cache" / "tarvex-update" / "1.dat"), lead);
    EXPECT_EQ(OnVolume("volume-a"), lead);

    m_pEngine.reset();
    m_Services.CacheFolder = notAFolder / "cache";
    std::filesystem::remove(Root() / "volume-a" / "1.dat");
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::StagingFailed);
    EXPECT_THAT(Notices(m_View), ElementsAre(kFailure));
    EXPECT_FALSE(OnVolume("volume-a"));
}

TEST_F(DriveCopyEngineTest, AFailedCopyIsReportedAndLeavesNoPartialFile) {
    const struct {
        FileWriteStep step;
        FileWriteError error;
        bool earlierCopyRemains;  // a failed open never touched the file already there
    } cases[] = {
        {FileWriteStep::Open, FileWriteError::ReadOnly, true},
        {FileWriteStep::Write, FileWriteError::NoSpace, false},
        {FileWriteStep::Write, FileWriteError::DeviceGone, false},
        {FileWriteStep::Flush, FileWriteError::IoError, false},
        {FileWriteStep::Close, FileWriteError::IoError, false},
    };
    const std::vector<std::uint8_t> earlier(100, 0xEE);
    for (const auto& c : cases) {
        SCOPED_TRACE(ToString(c.step));
        WriteBytes(Root() / "volume-a" / "1.dat", earlier);
        m_Writer.FailIn(Root() / "volume-a", c.step, c.error);
        UseImage(0x0100);
        const std::size_t noticesBefore = Notices(m_View).size();

        ASSERT_EQ(Run(), UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
        const auto notices = Notices(m_View);
        EXPECT_THAT(
            std::vector<std::string>(notices.begin() + static_cast<std::ptrdiff_t>(noticesBefore),
                                     notices.end()),
            ElementsAre(kFailure));
        if (c.earlierCopyRemains) {
            EXPECT_EQ(OnVolume("volume-a"), earlier);
        } else {
            EXPECT_FALSE(OnVolume("volume-a"));
        }
    }
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
}

TEST_F(DriveCopyEngineTest, TheButtonIsOffForTheRunAndASecondPressStartsNothing) {
    UseImage(0x0010);
    m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, m_Services);
    m_pEngine->Initialise();
    const std::size_t buttonsBefore = m_View.Buttons().size();
    m_Writer.HoldNextWrite();  // the staging write

    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Writer.WaitUntilHeld());
    EXPECT_TRUE(m_pEngine->DriveCopyRunActive());
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    // A device notice during the run must not start a version query or a second run either.
    m_pEngine->OnDeviceChange(kDeviceArrival);
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_pEngine->RunningWorkers(), 1U);
    m_Writer.Release();

    ASSERT_EQ(m_View.WaitForRunEnd(), UpdateOutcome::Succeeded);
    const auto buttons = m_View.Buttons();
    ASSERT_GT(buttons.size(), buttonsBefore);
    EXPECT_FALSE(buttons[buttonsBefore]);  // off when the run started
    EXPECT_TRUE(buttons.back());           // on again: the device is still there
    EXPECT_EQ(m_View.RunsEnded(), 1U);
    // Two writes: the staging and the volume; the refused presses added none.
    EXPECT_EQ(m_Writer.Written().size(), 2U);
    EXPECT_FALSE(m_pEngine->DriveCopyRunActive());
    EXPECT_EQ(Run(), UpdateOutcome::Succeeded);  // and the next press works
}

TEST_F(DriveCopyEngineTest, AfterTheDeviceLeftTheButtonStaysOff) {
    UseImage(0x0010);
    m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, m_Services);
    m_pEngine->Initialise();
    m_Writer.HoldNextWrite();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Writer.WaitUntilHeld());
    m_Usb.RemoveDevice(kTargetVendorId, kDriveModeProductIds[0]);
    m_Writer.Release();
    ASSERT_TRUE(m_View.WaitForRunEnd());
    EXPECT_FALSE(m_View.Buttons().back());
}

TEST_F(DriveCopyEngineTest, WithoutServicesARunFailsWithoutWritingAnything) {
    m_Services = DriveCopyServices{};
    UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_THAT(Notices(m_View), ElementsAre(kFailure));
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_FALSE(std::filesystem::exists(Root() / "program" / "1.dat"));
}

TEST_F(DriveCopyEngineTest, ShutdownDuringACopyJoinsTheRun) {
    UseImage(0x0010);
    m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, m_Services);
    m_pEngine->Initialise();
    m_Writer.HoldNextWrite();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Writer.WaitUntilHeld());
    std::atomic<bool> shutDown{false};
    std::thread closer([&] {
        m_pEngine->Shutdown();
        shutDown.store(true);
    });
    // Shutdown has to wait for the copy, which waits for this thread: the copy is never cut off
    // half-written, and the worker is joined, not left running against a dead engine.
    EXPECT_FALSE(shutDown.load());
    m_Writer.Release();
    closer.join();
    EXPECT_TRUE(shutDown.load());
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
    EXPECT_EQ(m_View.RunsEnded(), 1U);
}

}  // namespace
}  // namespace tarvex::testing
