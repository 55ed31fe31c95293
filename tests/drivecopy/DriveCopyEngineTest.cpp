// The drive-copy run through the engine, over plain folders standing in for volumes: what the
// user sees, what is written where, and every way the run can end.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <sstream>
#include <thread>

#include "cli/CliApp.h"
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

// A short wait for the device's volume, so that the runs that give up do so quickly.
constexpr std::chrono::milliseconds kShortVolumeWait{300};

std::vector<std::string> Notices(const CRecordingView& view) {
    std::vector<std::string> texts;
    for (const auto& prompt : view.Prompts()) {
        texts.push_back(prompt.Text);
    }
    return texts;
}

std::vector<std::uint8_t> Head(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

class DriveCopyEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        for (const auto* name : {"volume-a", "volume-b", "volume-big", "outside"}) {
            std::filesystem::create_directories(Root() / name);
        }
        m_Volumes.SetVolumes({
            {Root() / "volume-big", "big", 1 << 30, {}, {}},
            {Root() / "volume-a", "a", kImageDriveCapacity, {}, {}},
        });
        m_Services =
            DriveCopyServices{&m_Volumes, &m_Usb, &m_Writer, Root() / "cache" / "tarvex-update"};
    }
    void TearDown() override { m_pEngine.reset(); }

    const std::filesystem::path& Root() const { return m_Folder.Path(); }
    std::filesystem::path Kept() const { return m_Services.StagingFolder / "1.dat"; }

    std::vector<std::uint8_t> UseImage(std::vector<std::uint8_t> image,
                                       const std::filesystem::path& path) {
        WriteBytes(path, image);
        m_View.ImageAnswer = path;
        return image;
    }
    std::vector<std::uint8_t> UseImage(std::vector<std::uint8_t> image) {
        return UseImage(std::move(image), Root() / "chosen image.dat");
    }
    std::vector<std::uint8_t> UseImage(std::uint16_t leadSize) {
        sim::SampleImageSpec spec;
        spec.LeadSize = leadSize;
        spec.PayloadLength = 256;
        return UseImage(sim::BuildSampleImage(spec));
    }

    void MakeEngine() {
        m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, m_Services);
        m_pEngine->Initialise();
    }
    std::optional<UpdateOutcome> Run() {
        if (!m_pEngine) {
            MakeEngine();
        }
        if (!m_pEngine->OnUsbUpdate()) {
            ADD_FAILURE() << "the update button started nothing";
            return std::nullopt;
        }
        return m_View.WaitForRunEnd();
    }

    // The end of a run that must be over within `bound`; empty (and a failure) if it is not.
    std::optional<UpdateOutcome> RunEndWithin(std::chrono::milliseconds bound) {
        const std::size_t ended = m_RunsTaken;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (m_View.RunsEnded() <= ended) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the run did not end within " << bound.count() << " ms";
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ++m_RunsTaken;
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
    std::size_t m_RunsTaken = 0;  // runs whose end RunEndWithin took
};

TEST_F(DriveCopyEngineTest, CopiesTheLeadSectionOntoTheMatchingVolume) {
    const auto image = UseImage(0x1000);
    const auto lead = Head(image, 4'608);

    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"), lead);
    EXPECT_EQ(ReadBytes(Kept()), lead);  // the copy kept for the user
    EXPECT_FALSE(OnVolume("volume-big"));
    EXPECT_THAT(m_View.SuccessBoxes(), ElementsAre(std::make_pair(kSuccess, kCaption)));
    EXPECT_TRUE(Notices(m_View).empty());
    EXPECT_THAT(m_View.Filters(), ElementsAre("File type(*.dat)|*.dat||"));
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::None);
    // The kept copy and the device's: nothing else was written anywhere.
    EXPECT_THAT(m_Writer.Written(), ElementsAre(Kept(), Root() / "volume-a" / "1.dat"));
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
    ASSERT_EQ(OnVolume("volume-a"), Head(first, 4'608));
    // 512 bytes: shorter than the first copy, so nothing of the first may remain after them.
    const auto second = UseImage(0x0000);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"), Head(second, 512));
    EXPECT_EQ(ReadBytes(Kept()), Head(second, 512));
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
        {Root() / "volume-a", "a", kImageDriveCapacity - 1, {}, {}},
        {Root() / "volume-b", "b", kImageDriveCapacity + 1024, kOwnUsbPath, {}},
    });
    UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_THAT(Notices(m_View), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::NoMatchingVolume);
    EXPECT_THAT(m_View.FailureReasons(),
                ElementsAre("No mounted volume has the device's size (104 KiB). Mount the "
                            "device's volume, then try again."));
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_FALSE(OnVolume("volume-b"));
    // Only the kept copy was written: nothing went to the current folder or anywhere else.
    EXPECT_THAT(m_Writer.Written(), ElementsAre(Kept()));
}

// The copy kept for the user is written over nothing of the user's: not over the image the
// user chose, however the user reached it, and its failure never stops the device's copy.
TEST_F(DriveCopyEngineTest, TheKeptCopyNeverReplacesTheChosenImageNorBlocksTheCopy) {
    const auto image = [] {
        sim::SampleImageSpec spec;
        spec.LeadSize = 0x0010;
        spec.PayloadLength = 8'000;  // well past the lead section, so a cut would show
        return sim::BuildSampleImage(spec);
    }();
    const auto staging = m_Services.StagingFolder;
    const auto plainFile = Root() / "plain-file";
    WriteBytes(plainFile, std::vector<std::uint8_t>{0});
    const struct {
        const char* name;
        std::filesystem::path stagingFolder;
        std::filesystem::path chosen;  // where the image is written
        std::filesystem::path answer;  // the path the file dialog gives
        std::function<void()> arrange;
    } cases[] = {
        {"the chosen image is the kept copy's file", staging, staging / "1.dat", staging / "1.dat",
         [] {}},
        {"reached through a link", staging, staging / "1.dat", Root() / "link.dat",
         [&] { std::filesystem::create_symlink(staging / "1.dat", Root() / "link.dat"); }},
        {"a second hard link under another name", staging, Root() / "mine.dat", Root() / "mine.dat",
         [&] { std::filesystem::create_hard_link(Root() / "mine.dat", staging / "1.dat"); }},
        {"reached through another spelling of the folder", staging, staging / "1.dat",
         staging / ".." / "tarvex-update" / "." / "1.dat", [] {}},
        {"no folder for the kept copy can be made", plainFile / "cache", Root() / "image.dat",
         Root() / "image.dat", [] {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(staging);
        std::filesystem::remove(Root() / "link.dat");
        std::filesystem::remove(Root() / "volume-a" / "1.dat");
        std::filesystem::create_directories(staging);
        m_Services.StagingFolder = c.stagingFolder;
        m_pEngine.reset();
        UseImage(image, c.chosen);
        c.arrange();
        m_View.ImageAnswer = c.answer;

        ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
        EXPECT_EQ(ReadBytes(c.chosen), image) << "the user's image was changed";
        EXPECT_EQ(OnVolume("volume-a"), Head(image, 528));
    }
}

TEST_F(DriveCopyEngineTest, AFailedCopyIsReportedWithItsReasonAndLeavesNoPartialFile) {
    const struct {
        FileWriteStep step;
        FileWriteError error;
        bool earlierCopyRemains;  // a failed open never touched the file already there
        const char* reason;       // what the window says below the failure text
    } cases[] = {
        {FileWriteStep::Open, FileWriteError::ReadOnly, true, "The device's volume is read-only."},
        {FileWriteStep::Open, FileWriteError::NotRegularFile, true,
         "On the device's volume, 1.dat is not a regular file."},
        {FileWriteStep::Open, FileWriteError::PermissionDenied, true,
         "Writing onto the device's volume is not permitted."},
        {FileWriteStep::Open, FileWriteError::NotTheListedVolume, true,
         "The device's volume was unmounted or covered by another mount before the copy."},
        {FileWriteStep::Write, FileWriteError::NoSpace, false, "The device's volume is full."},
        {FileWriteStep::Write, FileWriteError::DeviceGone, false,
         "The device went away or failed during the copy."},
        {FileWriteStep::Flush, FileWriteError::IoError, false,
         "The device went away or failed during the copy."},
        {FileWriteStep::Close, FileWriteError::IoError, false,
         "The device went away or failed during the copy."},
        {FileWriteStep::Flush, FileWriteError::Other, false,
         "The copy could not be written onto the device's volume."},
    };
    const std::vector<std::uint8_t> earlier(100, 0xEE);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ToString(c.step)) + ", " + ToString(c.error));
        WriteBytes(Root() / "volume-a" / "1.dat", earlier);
        m_Writer.FailIn(Root() / "volume-a", c.step, c.error);
        UseImage(0x0100);
        const std::size_t noticesBefore = Notices(m_View).size();

        ASSERT_EQ(Run(), UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
        EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), c.error);
        const auto notices = Notices(m_View);
        EXPECT_THAT(
            std::vector<std::string>(notices.begin() + static_cast<std::ptrdiff_t>(noticesBefore),
                                     notices.end()),
            ElementsAre(kFailure));
        ASSERT_FALSE(m_View.FailureReasons().empty());
        EXPECT_EQ(m_View.FailureReasons().back(), c.reason);
        if (c.earlierCopyRemains) {
            EXPECT_EQ(OnVolume("volume-a"), earlier);
        } else {
            EXPECT_FALSE(OnVolume("volume-a"));
        }
    }
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    // The next run starts with a clean record.
    m_Writer.FailIn(Root() / "nowhere", FileWriteStep::Open, FileWriteError::None);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::None);
}

// A copy that broke part-way while the volume's name came to lead to another volume (a drive
// letter taken over, a folder mounted over): the writer has removed its partial file through what
// it checked, and the engine must not remove anything by the name, which is now another's file.
TEST_F(DriveCopyEngineTest, AfterABrokenCopyNothingIsRemovedByTheVolumesName) {
    class CBreaksAndNameMoves final : public CFileWriter {
    public:
        CBreaksAndNameMoves(CFileWriter& staging, std::filesystem::path othersCopy)
            : m_Staging(staging), m_OthersCopy(std::move(othersCopy)) {}
        FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                       std::span<const std::uint8_t> bytes) override {
            return m_Staging.WriteWholeFile(path, bytes);
        }
        FileWriteResult WriteFileOnVolume(const VolumeInfo&, const std::filesystem::path&,
                                          std::span<const std::uint8_t>) override {
            WriteBytes(m_OthersCopy, std::vector<std::uint8_t>(64, 0x0E));
            return FileWriteResult{FileWriteError::DeviceGone, FileWriteStep::Write, 512,
                                   "injected"};
        }

    private:
        CFileWriter& m_Staging;
        std::filesystem::path m_OthersCopy;
    };
    const auto othersCopy = Root() / "volume-a" / "1.dat";
    CBreaksAndNameMoves writer(m_RealWriter, othersCopy);
    m_Services.pFileWriter = &writer;
    UseImage(0x0100);

    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::DeviceGone);
    EXPECT_EQ(ReadBytes(othersCopy), std::vector<std::uint8_t>(64, 0x0E))
        << "another volume's 1.dat was removed by name";
}

// A link or a pipe named 1.dat on the volume: the copy is never written through either, the run
// fails and says why, and it ends without waiting for anyone to read the pipe.
TEST_F(DriveCopyEngineTest, ALinkOrAPipeNamedLikeTheCopyIsNeverWrittenThrough) {
    const auto target = Root() / "volume-a" / "1.dat";
    const auto victim = Root() / "outside" / "precious.bin";
    const std::vector<std::uint8_t> precious(3'000, 0x5A);
    const struct {
        const char* name;
        std::function<void()> make;
        std::function<bool()> unchanged;
    } cases[] = {
        {"a link to a file outside the volume",
         [&] { std::filesystem::create_symlink(victim, target); },
         [&] { return std::filesystem::is_symlink(target) && ReadBytes(victim) == precious; }},
        {"a link to a file that does not exist yet",
         [&] { std::filesystem::create_symlink(Root() / "outside" / "new.bin", target); },
         [&] {
             return std::filesystem::is_symlink(target) &&
                    !std::filesystem::exists(Root() / "outside" / "new.bin");
         }},
        {"a pipe that nobody reads", [&] { ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0); },
         [&] { return std::filesystem::is_fifo(target); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(target);
        WriteBytes(victim, precious);
        c.make();
        UseImage(0x0010);
        MakeEngine();
        ASSERT_TRUE(m_pEngine->OnUsbUpdate());
        // A copy that blocks on the pipe is let go after the bound, so that the test fails
        // instead of hanging.
        std::promise<void> runEnded;
        std::thread rescuer([&, ended = runEnded.get_future()] {
            if (ended.wait_for(kMustNotBlock) == std::future_status::timeout) {
                ADD_FAILURE() << "the copy was still blocked after " << kMustNotBlock.count()
                              << " s";
                ReleasePipeWriter(target);
            }
        });
        const auto outcome = m_View.WaitForRunEnd();
        runEnded.set_value();
        rescuer.join();

        EXPECT_EQ(outcome, UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
        EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::NotRegularFile);
        EXPECT_TRUE(c.unchanged());
        m_pEngine.reset();
    }
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
}

TEST_F(DriveCopyEngineTest, TheButtonIsOffForTheRunAndASecondPressStartsNothing) {
    UseImage(0x0010);
    MakeEngine();
    const std::size_t buttonsBefore = m_View.Buttons().size();
    m_Writer.HoldNextWrite();  // the kept copy's write

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
    // Two writes: the kept copy and the volume; the refused presses added none.
    EXPECT_EQ(m_Writer.Written().size(), 2U);
    EXPECT_FALSE(m_pEngine->DriveCopyRunActive());
    EXPECT_EQ(Run(), UpdateOutcome::Succeeded);  // and the next press works
}

// The run holds its slot until its result message has closed: no press starts a second run
// and no device notice brings the button back meanwhile. (Parameter: the message is the
// failure notice, else the success box.)
class DriveCopySlotTest : public DriveCopyEngineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DriveCopySlotTest, TheRunKeepsItsSlotUntilItsResultMessageCloses) {
    const bool failing = GetParam();
    if (failing) {
        m_Volumes.SetVolumes({{Root() / "volume-big", "big", 1 << 30, {}, {}}});
    }
    UseImage(0x0010);
    std::promise<void> entered;
    std::promise<void> closed;
    std::shared_future<void> closedFuture = closed.get_future().share();
    std::once_flag enteredOnce;
    const auto block = [&] {
        std::call_once(enteredOnce, [&] { entered.set_value(); });
        closedFuture.wait();
    };
    m_View.OnNotice = [&](const std::string&) { block(); };
    m_View.OnSuccessBox = block;
    MakeEngine();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    if (entered.get_future().wait_for(kRunBound) != std::future_status::ready) {
        closed.set_value();
        FAIL() << "the run's result message never came";
    }

    const std::size_t buttons = m_View.Buttons().size();
    const bool heldDuring = m_pEngine->RunInProgress();
    m_pEngine->OnDeviceChange(kDeviceNodesChanged);
    m_pEngine->RefreshDeviceState();
    const bool secondRun = m_pEngine->OnUsbUpdate();
    const auto during = m_View.Buttons();
    const std::size_t runsEndedDuring = m_View.RunsEnded();
    closed.set_value();

    EXPECT_TRUE(heldDuring) << "the slot was free while the result message was open";
    EXPECT_FALSE(secondRun) << "a press while the result message was open started a run";
    EXPECT_TRUE(std::none_of(during.begin() + static_cast<std::ptrdiff_t>(buttons), during.end(),
                             [](bool enabled) { return enabled; }))
        << "the button came back while the result message was open";
    EXPECT_EQ(runsEndedDuring, 0U);
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound),
              failing ? UpdateOutcome::Failed : UpdateOutcome::Succeeded);
    EXPECT_FALSE(m_pEngine->RunInProgress());
    EXPECT_EQ(m_View.Buttons().back(), true);
}

INSTANTIATE_TEST_SUITE_P(ResultMessage, DriveCopySlotTest, ::testing::Bool(),
                         [](const auto& param) {
                             return param.param ? "FailureNotice" : "SuccessBox";
                         });

TEST_F(DriveCopyEngineTest, AfterTheDeviceLeftTheButtonStaysOff) {
    UseImage(0x0010);
    MakeEngine();
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
    EXPECT_FALSE(std::filesystem::exists(Root() / "cache"));
}

TEST_F(DriveCopyEngineTest, ShutdownDuringACopyWaitsForTheCopy) {
    m_Services.StagingFolder.clear();  // the one write is the device's
    const auto image = UseImage(0x0010);
    MakeEngine();
    m_Writer.HoldNextWrite();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Writer.WaitUntilHeld());
    ASSERT_EQ(m_pEngine->RunningWorkers(), 1U);
    std::atomic<bool> shutDown{false};
    std::thread closer([&] {
        m_pEngine->Shutdown();
        shutDown.store(true);
    });
    // The worker set stops counting the run as running once Shutdown has taken it to be joined;
    // from then on Shutdown can only return after the copy, which waits for this thread. A
    // Shutdown that does not wait returns while the copy is held, and this wait sees that.
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0 || shutDown.load(); }));
    EXPECT_FALSE(shutDown.load()) << "Shutdown returned while the copy was still being written";
    m_Writer.Release();
    closer.join();
    // Whatever Shutdown waited for is over by the time it returns: the copy on the volume and
    // the run's end.
    EXPECT_EQ(m_View.RunsEnded(), 1U);
    EXPECT_EQ(OnVolume("volume-a"), Head(image, 528));
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
}

// Where no volume can be tied to a device, the size decides only when it cannot pick another
// device's volume: with one drive-mode device and no choice. Otherwise the run refuses before
// it asks for the image, keeps nothing and writes nothing.
TEST_F(DriveCopyEngineTest, AnUntiedVolumeIsTakenBySizeOnlyWhenNoOtherDeviceCouldOwnIt) {
    const struct {
        const char* name;
        std::size_t devices;
        bool chosen;
        UpdateOutcome outcome;
    } cases[] = {
        {"one device", 1, false, UpdateOutcome::Succeeded},
        {"two devices", 2, false, UpdateOutcome::Failed},
        {"one device chosen", 1, true, UpdateOutcome::Failed},
        {"two devices, one chosen", 2, true, UpdateOutcome::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto product : kDriveModeProductIds) {
            m_Usb.RemoveDevice(kTargetVendorId, product);
        }
        for (std::size_t i = 0; i < c.devices; ++i) {
            m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[i], "SN-" + std::to_string(i));
        }
        std::filesystem::remove(Root() / "volume-a" / "1.dat");
        std::filesystem::remove(Kept());
        m_Services.bDeviceChosen = c.chosen;
        MakeEngine();
        UseImage(0x0010);
        const std::size_t asked = m_View.Filters().size();
        ASSERT_EQ(Run(), c.outcome);
        if (c.outcome == UpdateOutcome::Succeeded) {
            EXPECT_TRUE(OnVolume("volume-a"));
            continue;
        }
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CannotTellVolume);
        EXPECT_EQ(Notices(m_View).back(), kFailure);
        EXPECT_FALSE(OnVolume("volume-a")) << "a volume was taken by its size alone";
        EXPECT_FALSE(ReadBytes(Kept()));
        EXPECT_EQ(m_View.Filters().size(), asked) << "the image was asked for in vain";
    }
}

// --- the device's own volume, where the system can tell it ---------------------------------

class OwnVolumeTest : public DriveCopyEngineTest {
protected:
    void SetUp() override {
        DriveCopyEngineTest::SetUp();
        m_Volumes.SetKnownUsbDevices({kOwnUsbPath});
        // A volume of the device's size that is not the device's, and earlier by mount point.
        m_Volumes.SetVolumes({{Root() / "volume-a", "decoy", kImageDriveCapacity, {}, {}}});
    }
    VolumeInfo OwnVolume(std::uint64_t capacity = kImageDriveCapacity) const {
        return VolumeInfo{Root() / "volume-b", "/dev/sdz1", capacity, kOwnUsbPath, {}};
    }
};

TEST_F(OwnVolumeTest, TheRunWaitsForTheDevicesOwnVolumeAndLeavesTheOtherAlone) {
    // Mounted while the run waits: unlisted for the first three looks.
    m_Volumes.SetVolumesFrom(4, {{Root() / "volume-a", "decoy", kImageDriveCapacity, {}, {}},
                                 OwnVolume(kImageDriveCapacity + 1000)});
    const auto image = UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-b"), Head(image, 528));
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_GE(m_Volumes.Calls(), 4U);
    EXPECT_TRUE(Notices(m_View).empty());
}

TEST_F(OwnVolumeTest, AVolumeThatNeverComesFailsWithinTheLimitOrTheDeadline) {
    // Whichever of the two ends first ends the wait; the other is set far beyond the bound in
    // which the run must be over.
    const auto later = 4 * kMustNotBlock;
    const struct {
        const char* name;
        std::chrono::milliseconds limit;
        std::chrono::milliseconds deadline;
    } cases[] = {
        {"the wait's own limit", kShortVolumeWait, later},
        {"the front end's deadline", later, kShortVolumeWait},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_Services.VolumeWaitLimit = c.limit;
        m_Services.VolumeWaitDeadline = std::chrono::steady_clock::now() + c.deadline;
        MakeEngine();
        UseImage(0x0010);
        ASSERT_TRUE(m_pEngine->OnUsbUpdate());
        ASSERT_EQ(RunEndWithin(kMustNotBlock), UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::VolumeNotMounted);
        EXPECT_EQ(Notices(m_View).back(), kFailure);
        EXPECT_EQ(m_View.FailureReasons().back(),
                  "The device's volume was not mounted in time. Mount it, then try again.");
        EXPECT_FALSE(OnVolume("volume-a"));
        EXPECT_GE(m_Volumes.Calls(), 2U);  // it did look again
    }
}

TEST_F(OwnVolumeTest, TheOwnVolumeMustHaveTheDevicesSize) {
    m_Volumes.SetVolumes({{Root() / "volume-a", "decoy", kImageDriveCapacity, {}, {}},
                          OwnVolume(kImageDriveCapacity + 1024)});
    UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::NoMatchingVolume);
    EXPECT_FALSE(OnVolume("volume-a"));
    EXPECT_FALSE(OnVolume("volume-b"));
}

TEST_F(OwnVolumeTest, ADeviceThatLeavesEndsTheWait) {
    UseImage(0x0010);
    MakeEngine();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Volumes.WaitForCalls(2));
    m_Volumes.SetKnownUsbDevices({});
    ASSERT_EQ(m_View.WaitForRunEnd(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::DeviceLeft);
    EXPECT_THAT(m_View.FailureReasons(),
                ElementsAre("The device went away before its volume was mounted."));
    EXPECT_FALSE(OnVolume("volume-a"));
}

TEST_F(OwnVolumeTest, ShutdownEndsTheWaitAtOnceWithoutAMessage) {
    m_Services.VolumeWaitLimit = 2 * kMustNotBlock;
    UseImage(0x0010);
    MakeEngine();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(m_Volumes.WaitForCalls(2));
    auto shutdown = std::async(std::launch::async, [&] { m_pEngine->Shutdown(); });
    ASSERT_EQ(shutdown.wait_for(kMustNotBlock), std::future_status::ready)
        << "Shutdown waited for the volume";
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Cancelled);
    EXPECT_TRUE(Notices(m_View).empty());
    EXPECT_FALSE(OnVolume("volume-a"));
}

// A Ctrl-C that comes before 1.dat is opened on the volume (while the image is chosen, or
// while the volume is looked for): nothing reaches the device, and the run ends as cancelled,
// without a result message.
TEST_F(DriveCopyEngineTest, AStopRequestBeforeTheCopyIsOpenedWritesNothing) {
    std::atomic<bool> stop{false};
    const auto requestStop = [&] { stop.store(true); };  // what the Ctrl-C handler does
    const struct {
        const char* Name;
        std::function<void()> Arrange;
    } cases[] = {
        {"while the image is chosen", [&] { m_View.OnImageAsked = requestStop; }},
        {"while the volume is looked for", [&] { m_Volumes.SetOnListing(requestStop); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        stop.store(false);
        m_View.OnImageAsked = nullptr;
        m_Volumes.SetOnListing(nullptr);
        c.Arrange();
        UseImage(0x0010);
        MakeEngine();
        m_pEngine->WatchStopRequest(stop);

        ASSERT_TRUE(m_pEngine->OnUsbUpdate());
        EXPECT_EQ(m_View.WaitForRunEnd(), UpdateOutcome::Cancelled);
        EXPECT_FALSE(OnVolume("volume-a")) << "the copy was written after the stop request";
        for (const auto& written : m_Writer.Written()) {
            EXPECT_NE(written.parent_path(), Root() / "volume-a") << "the volume's copy was opened";
        }
        EXPECT_TRUE(m_View.SuccessBoxes().empty());
        EXPECT_TRUE(Notices(m_View).empty());
        m_pEngine.reset();
    }
}

// The terminal program says that it waits for the volume, and Ctrl-C ends that wait: nothing
// is written, and the program ends as cancelled.
TEST_F(OwnVolumeTest, TheTerminalProgramSaysItWaitsAndAnInterruptEndsTheWait) {
    m_Services.VolumeWaitLimit = 2 * kMustNotBlock;
    const auto imagePath = Root() / "chosen image.dat";
    UseImage(0x0010);
    CliOptions options;
    options.ImagePath = imagePath;
    options.AssumeYes = true;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<bool> stop{false};
    auto program = std::async(std::launch::async, [&] {
        return RunCli(options, CliPlatform{m_Port, m_Usb, m_Language, m_Services},
                      CliStreams{out, err}, stop);
    });
    ASSERT_TRUE(m_Volumes.WaitForCalls(2));  // waiting
    stop.store(true);                        // what the program's Ctrl-C handler does
    ASSERT_EQ(program.wait_for(kMustNotBlock), std::future_status::ready)
        << "the interrupted program went on waiting";
    EXPECT_EQ(program.get(), kExitCancelled);
    EXPECT_THAT(out.str(), ::testing::HasSubstr("Waiting for the drive-mode device's volume to be "
                                                "mounted (at most 10 s)..."));
    EXPECT_EQ(err.str(), "Cancelled.\n");
    EXPECT_FALSE(OnVolume("volume-a"));
}

TEST_F(OwnVolumeTest, ADeviceTheSystemCannotPlaceLeavesTheChoiceToTheCapacity) {
    m_Volumes.SetKnownUsbDevices({});
    const auto image = UseImage(0x0010);
    ASSERT_EQ(Run(), UpdateOutcome::Succeeded);
    EXPECT_EQ(OnVolume("volume-a"), Head(image, 528));
    EXPECT_EQ(m_Volumes.Calls(), 1U);  // no waiting
}

}  // namespace
}  // namespace tarvex::testing
