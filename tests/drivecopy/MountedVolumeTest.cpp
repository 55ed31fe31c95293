// The drive-copy path against real mounted volumes: tmpfs mounts of the device's size and of
// others, listed through the real mount table and written through the real file writer, both
// through the engine and through the terminal program.
//
// These tests need root to mount. Without it they skip and say why, except under CI=true, where
// a skip is turned into a failure so that CI can never pass without having run them.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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
            for (const auto& volume : m_Volumes.ListVolumes()) {
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
        std::filesystem::create_directories(ProgramFolder());
    }
    void TearDown() override {
        m_pEngine.reset();
        m_pMounts.reset();  // unmounts
    }

    std::filesystem::path ProgramFolder() const { return m_Folder.Path() / "program folder"; }

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
                DriveCopyServices{&m_Volumes, &m_Usb, &m_Writer, ProgramFolder(),
                                  m_Folder.Path() / "cache"});
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
    CMountedVolumeList m_Volumes;
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

TEST_F(MountedVolumeTest, TheMountTableGivesEachTmpfsItsRealSize) {
    // The blank in the name comes back from the kernel as \040 and must be undone.
    const auto device = m_pMounts->MountTmpfs("device volume", "size=104k");
    const auto bigger = m_pMounts->MountTmpfs("bigger", "size=105k");
    const auto smaller = m_pMounts->MountTmpfs("smaller", "size=100k");
    const auto readOnly = m_pMounts->MountTmpfs("read-only", "size=104k", true);
    const auto volumes = m_Volumes.ListVolumes();

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
        EXPECT_EQ(volume->SourceDevice, "tarvex-test");
        EXPECT_TRUE(volume->UsbDeviceSystemPath.empty());  // tmpfs has no block device
    }
    // The promised order, each mount point once.
    for (std::size_t i = 1; i < volumes.size(); ++i) {
        EXPECT_LT(volumes[i - 1].MountPoint.native(), volumes[i].MountPoint.native());
    }
    const auto chosen = FindImageDrive(volumes, {});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->MountPoint, device);  // "device volume" sorts before "read-only"
}

TEST_F(MountedVolumeTest, TheEngineCopiesTheLeadSectionOntoTheDevicesVolume) {
    const auto bigger = m_pMounts->MountTmpfs("bigger", "size=105k");
    const auto device = m_pMounts->MountTmpfs("device volume", "size=104k");
    const auto smaller = m_pMounts->MountTmpfs("smaller", "size=100k");

    const auto image = UseImage(SampleImage(0x1000, 1));
    ASSERT_EQ(RunEngine(), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(device / "1.dat"), Head(image, 4'608));
    EXPECT_EQ(ReadBytes(ProgramFolder() / "1.dat"), Head(image, 4'608));
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
    EXPECT_THAT(Notices(), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_FALSE(std::filesystem::exists(device / "1.dat"));
}

struct ProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs `program` with `arguments`, English texts, no terminal, and the output kept.
ProgramRun RunProgram(const std::filesystem::path& program, std::vector<std::string> arguments,
                      const std::filesystem::path& scratch) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry(*variable);
        if (!entry.starts_with("LANG") && !entry.starts_with("LC_")) {
            environment.emplace_back(entry);
        }
    }
    environment.push_back("LANG=C.UTF-8");
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

TEST_F(MountedVolumeTest, TheTerminalProgramUpdatesTheVirtualDriveModeDevice) {
    // A copy of the program in a folder of the test's own, so that the copy staged beside it is
    // the test's to read (and no other test's run of the program writes there).
    const auto program = ProgramFolder() / "tarvex-update-cli";
    std::filesystem::copy_file(TARVEX_CLI_PATH, program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const auto image = SampleImage(0x1000, 5);
    const auto imagePath = m_Folder.Path() / "image.dat";
    WriteBytes(imagePath, image);

    // The set-up made sure that no volume of the device's size was mounted before; with none,
    // nothing is copied anywhere.
    enum class Volume { None, Writable, ReadOnly };
    const struct {
        Volume volume;
        int status;
        std::string lastLine;
        std::string errorPart;
    } cases[] = {
        {Volume::None, 1, kFailure, "No mounted volume has the drive-mode device's size"},
        {Volume::ReadOnly, 1, kFailure, "writing the copy file onto the volume failed"},
        {Volume::Writable, 0, kSuccess, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.volume));
        std::filesystem::path device;
        if (c.volume != Volume::None) {
            device =
                m_pMounts->MountTmpfs("device volume", "size=104k", c.volume == Volume::ReadOnly);
        }
        const auto run =
            RunProgram(program, {"--virtual=drive", "--yes", imagePath.string()}, m_Folder.Path());
        EXPECT_EQ(run.Status, c.status) << run.Err;
        EXPECT_EQ(LastLine(run.Out), c.lastLine) << run.Out;
        EXPECT_THAT(run.Err, ::testing::HasSubstr(c.errorPart));
        // Staged beside the program in every case: the volume is looked for afterwards.
        EXPECT_EQ(ReadBytes(ProgramFolder() / "1.dat"), Head(image, 4'608));
        if (c.volume == Volume::ReadOnly) {
            EXPECT_FALSE(std::filesystem::exists(device / "1.dat"));
        } else if (c.volume == Volume::Writable) {
            EXPECT_EQ(ReadBytes(device / "1.dat"), Head(image, 4'608));
        }
        m_pMounts.reset();
        m_pMounts = std::make_unique<CScratchMounts>();
    }
}

}  // namespace
}  // namespace tarvex::testing
