// The drive-copy path against real mounted volumes: tmpfs mounts of the device's size and of
// others, written through the real file writer, through the engine and the terminal program.
// This machine cannot mount a FAT volume, and a tmpfs is never taken for a device's volume, so
// the volume list reads a copy of the real mount table in which the test's own tmpfs mounts are
// shown as vfat on a block device; sizes, free space and read-only flags stay the tmpfs's own.
//
// These tests need root to mount. Without it they skip and say why, except under CI=true, where
// a skip is turned into a failure so that CI can never pass without having run them.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <utility>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "platform/linux/MountedVolumeList.h"
#include "platform/linux/PosixFileWriter.h"
#include "sim/SampleImage.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"
#include "tests/drivecopy/ScratchMounts.h"
#include "tests/update/EngineTestSupport.h"

extern char** environ;

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kSuccess = "Firmware upgraded successful!";
const std::string kFailure = "Firmware update failure";
constexpr std::uint64_t kPageSize = 4096;

std::optional<VolumeInfo> FindVolume(const std::vector<VolumeInfo>& volumes,
                                     const std::filesystem::path& mountPoint) {
    for (const auto& volume : volumes) {
        if (volume.MountPoint == mountPoint) {
            return volume;
        }
    }
    return std::nullopt;
}

// The real volume list over the disguised table, read anew at every listing like the real one.
// The identities it reports are the mounts' real ones, as the real table would give them.
class CDisguisedVolumeList final : public CVolumeList {
public:
    explicit CDisguisedVolumeList(std::filesystem::path tablePath)
        : m_TablePath(std::move(tablePath)) {}
    std::vector<VolumeInfo> ListVolumes() override {
        const std::string table = DisguisedMountTable();
        WriteBytes(m_TablePath, std::vector<std::uint8_t>(table.begin(), table.end()));
        auto volumes = CMountedVolumeList(m_TablePath).ListVolumes();
        for (auto& volume : volumes) {
            if (volume.FileSystemId) {
                volume.FileSystemId = UndisguisedFileSystemId(*volume.FileSystemId);
            }
        }
        if (auto after = std::exchange(AfterListing, nullptr)) {
            after();
        }
        return volumes;
    }
    // Runs once, after the next listing has been read: what happens to the mounts between the
    // listing and the copy.
    std::function<void()> AfterListing;
    bool CanFindVolumesOf(const std::string&) override { return false; }

private:
    std::filesystem::path m_TablePath;
};

class MountedVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> why = MountTestsUnavailable();
        if (!why && static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) != kPageSize) {
            why =
                "tmpfs sizes are whole pages, and pages here are not 4 KiB, so no tmpfs can be "
                "made 104 KiB";
        }
        if (!why) {
            // A matching volume the test did not make would compete with the test's own.
            for (const auto& volume : CMountedVolumeList().ListVolumes()) {
                if (IsImageDriveCapacity(volume.CapacityBytes)) {
                    why = "a volume of the device's size is already mounted at " +
                          volume.MountPoint.string();
                }
            }
        }
        if (why) {
            if (SkipsAreFailures()) {
                FAIL() << "CI=true, so the mount tests must run, but " << *why;
            }
            GTEST_SKIP() << *why;
        }
        m_pMounts = std::make_unique<CScratchMounts>();
    }
    void TearDown() override {
        m_pEngine.reset();
        m_pMounts.reset();  // unmounts
    }

    std::filesystem::path KeptCopy() const { return m_Folder.Path() / "cache" / "1.dat"; }

    std::vector<std::uint8_t> UseImage(std::vector<std::uint8_t> image) {
        const auto path = m_Folder.Path() / "image.dat";
        WriteBytes(path, image);
        m_View.ImageAnswer = path;
        return image;
    }

    std::optional<UpdateOutcome> RunEngine() {
        if (!m_pEngine) {
            m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[3]);
            m_pEngine = std::make_unique<CUpdateEngine>(
                m_Hid, m_View, m_Language,
                DriveCopyServices{&m_Volumes, &m_Usb, &m_Writer, m_Folder.Path() / "cache"});
            m_pEngine->Initialise();
        }
        if (!m_pEngine->OnUsbUpdate()) {
            ADD_FAILURE() << "the update button started nothing";
            return std::nullopt;
        }
        return m_View.WaitForRunEnd();
    }

    std::vector<std::string> Notices() const {
        std::vector<std::string> texts;
        for (const auto& prompt : m_View.Prompts()) {
            texts.push_back(prompt.Text);
        }
        return texts;
    }

    CScratchFolder m_Folder;
    std::unique_ptr<CScratchMounts> m_pMounts;
    CDisguisedVolumeList m_Volumes{m_Folder.Path() / "mountinfo"};
    CPosixFileWriter m_Writer;
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine;
};

std::vector<std::uint8_t> SampleImage(std::uint16_t leadSize, std::uint32_t seed) {
    sim::SampleImageSpec spec;
    spec.LeadSize = leadSize;
    spec.PayloadLength = 1000;
    spec.Seed = seed;
    return sim::BuildSampleImage(spec);
}

std::vector<std::uint8_t> Head(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

TEST_F(MountedVolumeTest, EachVolumeIsListedWithItsRealSizeAndNoTmpfsAsSuch) {
    // The blank in the name comes back from the kernel as \040 and must be undone.
    const auto device = m_pMounts->MountTmpfs("device volume", "size=104k");
    const auto bigger = m_pMounts->MountTmpfs("bigger", "size=105k");
    const auto smaller = m_pMounts->MountTmpfs("smaller", "size=100k");
    const auto readOnly = m_pMounts->MountTmpfs("read-only", "size=104k", true);
    const auto volumes = m_Volumes.ListVolumes();
    // The real table as it is: a tmpfs is never sized, whatever its size.
    const auto undisguised = CMountedVolumeList().ListVolumes();

    const struct {
        std::filesystem::path mountPoint;
        std::uint64_t capacity;  // whole 4 KiB pages
        bool matches;
    } cases[] = {
        {device, 26 * kPageSize, true},   // 106,496 bytes
        {bigger, 27 * kPageSize, false},  // 105k rounds up to 108 KiB
        {smaller, 25 * kPageSize, false},
        {readOnly, 26 * kPageSize, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mountPoint);
        const auto volume = FindVolume(volumes, c.mountPoint);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->CapacityBytes, c.capacity);
        EXPECT_EQ(IsImageDriveCapacity(volume->CapacityBytes), c.matches);
        EXPECT_EQ(volume->SourceDevice, "/dev/tarvex-test");
        EXPECT_TRUE(volume->UsbDeviceSystemPath.empty());  // no real block device answers
        const auto asItIs = FindVolume(undisguised, c.mountPoint);
        ASSERT_TRUE(asItIs);
        EXPECT_EQ(asItIs->CapacityBytes, 0U);
        EXPECT_EQ(asItIs->SourceDevice, "tarvex-test");
    }
    // The promised order, each mount point once.
    for (std::size_t i = 1; i < volumes.size(); ++i) {
        EXPECT_LT(volumes[i - 1].MountPoint.native(), volumes[i].MountPoint.native());
    }
    const auto chosen = ChooseImageDrive(volumes, {});
    ASSERT_TRUE(chosen.Volume);
    EXPECT_EQ(chosen.Volume->MountPoint, device);  // "device volume" sorts before "read-only"
}

// A bind mount of a folder on the device's volume has the volume's size and block device, and
// sorts first here; the copy must still land in the volume's root.
TEST_F(MountedVolumeTest, ABindMountOfAFolderOnTheVolumeIsNotTaken) {
    const auto device = m_pMounts->MountTmpfs("z-device", "size=104k");
    std::filesystem::create_directories(device / "sub");
    const auto bound = m_pMounts->BindMount(device / "sub", "a-folder-of-it");
    ASSERT_FALSE(bound.empty());

    const auto image = UseImage(SampleImage(0x0100, 7));
    ASSERT_EQ(RunEngine(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(device / "1.dat"), Head(image, 768));
    EXPECT_FALSE(std::filesystem::exists(device / "sub" / "1.dat"));
    const auto listed = FindVolume(m_Volumes.ListVolumes(), bound);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->CapacityBytes, 0U);
}

// A user-space file system whose daemon never answers: asking its size would wait for ever, so
// it must not be asked. The mount is real (a FUSE connection this test opens and never serves).
TEST_F(MountedVolumeTest, AFuseMountThatNeverAnswersIsNotAsked) {
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        const std::string why = std::string("no /dev/fuse: ") + std::strerror(errno);
        if (SkipsAreFailures()) {
            FAIL() << "CI=true, so this test must run, but " << why;
        }
        GTEST_SKIP() << why;
    }
    const auto point = m_pMounts->Root() / "fuse";
    std::filesystem::create_directories(point);
    const std::string options =
        "fd=" + std::to_string(fuse) + ",rootmode=40000,user_id=0,group_id=0";
    ASSERT_EQ(::mount("tarvex-fuse", point.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()),
              0)
        << std::strerror(errno);

    auto listing =
        std::async(std::launch::async, [] { return CMountedVolumeList().ListVolumes(); });
    // Generous for a listing; a size query on this mount would never return on its own.
    const bool answered = listing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(answered) << "listing the volumes waited on the FUSE mount";
    ::close(fuse);  // aborts the connection: a waiting size query now fails and returns
    const auto volumes = listing.get();
    ::umount2(point.c_str(), MNT_DETACH);
    const auto volume = FindVolume(volumes, point);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->CapacityBytes, 0U);
}

TEST_F(MountedVolumeTest, TheEngineCopiesTheLeadSectionOntoTheDevicesVolume) {
    const auto bigger = m_pMounts->MountTmpfs("bigger", "size=105k");
    const auto device = m_pMounts->MountTmpfs("device volume", "size=104k");
    const auto smaller = m_pMounts->MountTmpfs("smaller", "size=100k");

    const auto image = UseImage(SampleImage(0x1000, 1));
    ASSERT_EQ(RunEngine(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(device / "1.dat"), Head(image, 4'608));
    EXPECT_EQ(ReadBytes(KeptCopy()), Head(image, 4'608));
    EXPECT_FALSE(std::filesystem::exists(bigger / "1.dat"));
    EXPECT_FALSE(std::filesystem::exists(smaller / "1.dat"));
    EXPECT_THAT(m_View.SuccessBoxes(),
                ElementsAre(std::make_pair(kSuccess, std::string("Tarvex Update"))));

    // A second run replaces the copy; this image is shorter than its own lead section, so the
    // whole of it goes, and nothing of the longer first copy may remain.
    const auto shorter = UseImage(Head(SampleImage(0x1000, 2), 1'000));
    ASSERT_EQ(RunEngine(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(device / "1.dat"), shorter);
    EXPECT_TRUE(Notices().empty());
}

TEST_F(MountedVolumeTest, AFullVolumeFailsAndKeepsNoPartialCopy) {
    const struct {
        unsigned pagesFree;
        const char* why;
    } cases[] = {
        {0, "full: nothing fits"},
        {1, "one page free: the first page is written, then the volume is full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto device =
            m_pMounts->MountTmpfs("full " + std::to_string(c.pagesFree), "size=104k");
        FillVolume(device, c.pagesFree);
        const auto fillerBefore = ReadBytes(device / "filler");
        UseImage(SampleImage(0x1000, 3));  // 4,608 bytes: two pages
        const std::size_t noticesBefore = Notices().size();

        ASSERT_EQ(RunEngine(), UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
        EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::NoSpace);
        EXPECT_EQ(Notices().size(), noticesBefore + 1);
        EXPECT_EQ(Notices().back(), kFailure);
        EXPECT_FALSE(std::filesystem::exists(device / "1.dat"));
        EXPECT_EQ(ReadBytes(device / "filler"), fillerBefore);
        // Unmounted before the next case, so that only one volume matches at a time.
        m_pMounts.reset();
        m_pMounts = std::make_unique<CScratchMounts>();
    }
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
}

TEST_F(MountedVolumeTest, AReadOnlyVolumeFailsAndGetsNoCopy) {
    const auto device = m_pMounts->MountTmpfs("device volume", "size=104k", true);
    UseImage(SampleImage(0x0100, 4));
    ASSERT_EQ(RunEngine(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
    EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::ReadOnly);
    EXPECT_THAT(Notices(), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_FALSE(std::filesystem::exists(device / "1.dat"));
}

// The volume was listed, then its folder stopped being that volume before the copy was
// written: the copy must not land on whatever file system the folder's path leads to now.
TEST_F(MountedVolumeTest, AVolumeThatIsNoLongerAtItsFolderGetsNoCopyAndTheRunFails) {
    struct Case {
        const char* Name;
        const char* VolumeFolder;
        // Changes the mounts after the listing; `volume` is where the device's volume was.
        std::function<void(CScratchMounts&, const std::filesystem::path& volume)> Change;
    };
    const Case cases[] = {
        {"unmounted, its folder left behind", "device",
         [](CScratchMounts& mounts, const std::filesystem::path& volume) {
             mounts.Unmount(volume);
         }},
        {"another file system mounted over its folder", "device",
         [](CScratchMounts& mounts, const std::filesystem::path&) {
             mounts.MountTmpfs("device", "size=1m");
         }},
        {"another file system mounted over a folder above it", "parent/device",
         [](CScratchMounts& mounts, const std::filesystem::path& volume) {
             mounts.MountTmpfs("parent", "size=1m");
             std::filesystem::create_directories(volume);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto volume = m_pMounts->MountTmpfs(c.VolumeFolder, "size=104k");
        ASSERT_FALSE(volume.empty());
        m_Volumes.AfterListing = [&] { c.Change(*m_pMounts, volume); };
        UseImage(SampleImage(0x0100, 5));
        const std::size_t noticesBefore = Notices().size();

        ASSERT_EQ(RunEngine(), UpdateOutcome::Failed);
        EXPECT_EQ(m_pEngine->LastDriveCopyFailure(), DriveCopyFailure::CopyFailed);
        EXPECT_EQ(m_pEngine->LastDriveCopyWriteError(), FileWriteError::NotTheListedVolume);
        EXPECT_EQ(Notices().size(), noticesBefore + 1);
        EXPECT_EQ(Notices().back(), kFailure);
        EXPECT_FALSE(std::filesystem::exists(volume / "1.dat"))
            << "the copy landed on the file system now at the volume's folder";
        m_pMounts.reset();
        m_pMounts = std::make_unique<CScratchMounts>();
    }
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
}

// The writer itself, against real mounts: the volume's identity is checked on the folder it
// opens, and a volume still in place is written.
TEST_F(MountedVolumeTest, TheWriterWritesOnlyOntoTheFileSystemItWasGiven) {
    const auto device = m_pMounts->MountTmpfs("device", "size=104k");
    const auto other = m_pMounts->MountTmpfs("other", "size=104k");
    const auto listed = FindVolume(m_Volumes.ListVolumes(), device);
    ASSERT_TRUE(listed);
    ASSERT_TRUE(listed->FileSystemId);
    const std::vector<std::uint8_t> bytes{1, 2, 3};

    VolumeInfo elsewhere = *listed;
    elsewhere.MountPoint = other;
    const FileWriteResult refused = m_Writer.WriteFileOnVolume(elsewhere, "1.dat", bytes);
    EXPECT_EQ(refused.Error, FileWriteError::NotTheListedVolume);
    EXPECT_EQ(refused.FailedAt, FileWriteStep::Open);
    EXPECT_FALSE(std::filesystem::exists(other / "1.dat"));

    const FileWriteResult written = m_Writer.WriteFileOnVolume(*listed, "1.dat", bytes);
    EXPECT_TRUE(written.Ok()) << written.Message;
    EXPECT_EQ(ReadBytes(device / "1.dat"), bytes);

    // The folder is the volume, but its 1.dat has a file of another file system mounted over it.
    const std::vector<std::uint8_t> foreign{9, 9, 9, 9};
    WriteBytes(other / "foreign.dat", foreign);
    ASSERT_EQ(::mount((other / "foreign.dat").c_str(), (device / "1.dat").c_str(), nullptr, MS_BIND,
                      nullptr),
              0)
        << std::strerror(errno);
    const FileWriteResult covered = m_Writer.WriteFileOnVolume(*listed, "1.dat", bytes);
    ::umount2((device / "1.dat").c_str(), MNT_DETACH);
    EXPECT_EQ(covered.Error, FileWriteError::NotTheListedVolume);
    EXPECT_EQ(ReadBytes(other / "foreign.dat"), foreign)
        << "the file mounted over 1.dat was written";
}

struct ProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs `program` with `arguments`, English texts, no terminal, `environment` added to (or
// replacing) the test's own, and the output kept. A variable given without "=" is removed.
ProgramRun RunProgram(const std::filesystem::path& program, std::vector<std::string> arguments,
                      const std::filesystem::path& scratch,
                      const std::vector<std::string>& changes = {}) {
    std::vector<std::string> environment;
    const auto changed = [&](std::string_view entry) {
        return std::any_of(changes.begin(), changes.end(), [&](const std::string& change) {
            const std::string name = change.substr(0, change.find('='));
            return entry.starts_with(name + "=");
        });
    };
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry(*variable);
        if (!entry.starts_with("LANG") && !entry.starts_with("LC_") && !changed(entry)) {
            environment.emplace_back(entry);
        }
    }
    environment.push_back("LANG=C.UTF-8");
    for (const auto& change : changes) {
        if (change.find('=') != std::string::npos) {
            environment.push_back(change);
        }
    }
    arguments.insert(arguments.begin(), program.string());
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const auto outPath = scratch / "stdout";
    const auto errPath = scratch / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    ProgramRun run;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawned);
        return run;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto text = [](const std::filesystem::path& path) {
        const auto bytes = ReadBytes(path).value_or(std::vector<std::uint8_t>{});
        return std::string(bytes.begin(), bytes.end());
    };
    run.Out = text(outPath);
    run.Err = text(errPath);
    return run;
}

std::string LastLine(const std::string& text) {
    const auto end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return {};
    }
    const auto start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The installed program keeps its copy of 1.dat in the user's cache, never beside itself: a
// user whose own image is named 1.dat and sits beside the program keeps it whole.
TEST_F(MountedVolumeTest, TheTerminalProgramKeepsItsCopyInTheUsersCacheOnly) {
    const auto programFolder = m_Folder.Path() / "program folder";
    std::filesystem::create_directories(programFolder);
    const auto program = programFolder / "tarvex-update-cli";
    std::filesystem::copy_file(TARVEX_CLI_PATH, program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const auto image = SampleImage(0x1000, 5);  // 4,608 lead bytes of more
    const auto userImage = programFolder / "1.dat";
    const auto home = m_Folder.Path() / "home";
    const auto xdg = m_Folder.Path() / "xdg cache";
    const struct {
        std::vector<std::string> environment;
        std::filesystem::path kept;
    } cases[] = {
        {{"XDG_CACHE_HOME=" + xdg.string(), "HOME=" + home.string()}, xdg / "tarvex-update"},
        {{"XDG_CACHE_HOME", "HOME=" + home.string()}, home / ".cache" / "tarvex-update"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        WriteBytes(userImage, image);
        // No volume of the device's size is mounted (the set-up made sure): the run fails, but
        // only after it kept its copy.
        const auto run = RunProgram(program, {"--virtual=drive", "--yes", userImage.string()},
                                    m_Folder.Path(), c.environment);
        EXPECT_EQ(run.Status, kExitUpdateFailed) << run.Err;
        EXPECT_EQ(LastLine(run.Out), kFailure) << run.Out;
        EXPECT_THAT(run.Err, HasSubstr("No mounted volume has the drive-mode device's size"));
        EXPECT_EQ(ReadBytes(userImage), image) << "the user's 1.dat beside the program changed";
        EXPECT_EQ(ReadBytes(c.kept / "1.dat"), Head(image, 4'608));
        std::filesystem::remove_all(c.kept);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programFolder),
                            std::filesystem::directory_iterator()),
              2);  // the program and the user's image
}

// The terminal program's drive-copy run: the last line is the result text, and a failure says
// why beside it, on the error stream.
TEST_F(MountedVolumeTest, TheTerminalProgramSaysWhyACopyFailed) {
    const auto image = SampleImage(0x1000, 6);
    const auto imagePath = m_Folder.Path() / "image.dat";
    WriteBytes(imagePath, image);
    enum class Volume { Writable, ReadOnly, Full, LinkNamedLikeTheCopy };
    const struct {
        Volume volume;
        int status;
        std::string lastLine;
        std::string why;  // on the error stream; empty: nothing there
    } cases[] = {
        {Volume::Writable, kExitSuccess, kSuccess, ""},
        {Volume::ReadOnly, kExitUpdateFailed, kFailure, "the volume is read-only"},
        {Volume::Full, kExitUpdateFailed, kFailure, "no space left on the volume"},
        {Volume::LinkNamedLikeTheCopy, kExitUpdateFailed, kFailure, "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.volume));
        const auto device =
            m_pMounts->MountTmpfs("device volume", "size=104k", c.volume == Volume::ReadOnly);
        if (c.volume == Volume::Full) {
            FillVolume(device, 0);
        }
        const auto elsewhere = m_Folder.Path() / "elsewhere.bin";
        std::filesystem::remove(elsewhere);
        if (c.volume == Volume::LinkNamedLikeTheCopy) {
            std::filesystem::create_symlink(elsewhere, device / "1.dat");
        }

        sim::CVirtualHidPort hidPort;
        sim::CVirtualUsbDeviceList usb;
        usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        CliOptions options;
        options.ImagePath = imagePath;
        options.AssumeYes = true;
        options.Virtual = VirtualDeviceKind::Drive;
        std::ostringstream out;
        std::ostringstream err;
        const std::atomic<bool> stop{false};
        const int status = RunCli(
            options,
            CliPlatform{hidPort, usb, m_Language,
                        DriveCopyServices{&m_Volumes, &usb, &m_Writer, m_Folder.Path() / "cache"}},
            CliStreams{out, err}, stop);

        EXPECT_EQ(status, c.status) << err.str();
        EXPECT_EQ(LastLine(out.str()), c.lastLine) << out.str();
        if (c.why.empty()) {
            EXPECT_EQ(err.str(), "");
            EXPECT_EQ(ReadBytes(device / "1.dat"), Head(image, 4'608));
        } else {
            EXPECT_THAT(err.str(), HasSubstr("writing the copy file onto the volume failed: "));
            EXPECT_THAT(err.str(), HasSubstr(c.why));
            EXPECT_FALSE(std::filesystem::exists(elsewhere));
        }
        m_pMounts.reset();
        m_pMounts = std::make_unique<CScratchMounts>();
    }
}

}  // namespace
}  // namespace tarvex::testing
