// The image check against the permissions of a POSIX file system, as an ordinary user would
// meet them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <future>

#include "cli/ImageFileCheck.h"
#include "sim/SampleImage.h"
#include "tests/update/EngineTestSupport.h"
#include "ui/LocalizedText.h"
#include "update/DriveCopy.h"
#include "update/FirmwareImage.h"

namespace tarvex {
namespace {

// Far beyond what opening and refusing a name takes; a reader stuck opening a pipe fails here
// instead of hanging the suite.
constexpr std::chrono::seconds kMustNotWait{5};

// A pipe named like an image, in a fresh folder. On the way out it lets go of any reader that
// got stuck opening it (by opening it for writing once), so that a faulty reader ends the test
// rather than hanging it.
class CImagePipe {
public:
    CImagePipe() {
        std::filesystem::remove_all(m_Folder);
        std::filesystem::create_directories(m_Folder);
        EXPECT_EQ(::mkfifo(Path().c_str(), 0644), 0) << std::strerror(errno);
    }
    ~CImagePipe() {
        ReleaseReaders();
        std::filesystem::remove_all(m_Folder);
    }
    CImagePipe(const CImagePipe&) = delete;
    CImagePipe& operator=(const CImagePipe&) = delete;

    std::filesystem::path Path() const { return m_Folder / "image.dat"; }
    void ReleaseReaders() const {
        const int fd = ::open(Path().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        }
    }

private:
    const std::filesystem::path m_Folder = std::filesystem::temp_directory_path() /
                                           ("tarvex-image-pipe-" + std::to_string(::getpid()));
};

// Every reader of the image, handed a pipe: each says at once that it is no regular file, rather
// than waiting for a writer that never comes.
TEST(ImageFileCheckTest, APipeNamedAsTheImageIsRefusedAtOnceByEveryReader) {
    const struct {
        const char* Name;
        std::function<bool(const std::filesystem::path&)> RefusedAsNotRegular;
    } readers[] = {
        {"the terminal program's check",
         [](const auto& path) {
             return CheckImageFile(path).Problem == ImageFileProblem::NotRegularFile;
         }},
        {"the image probe",
         [](const auto& path) {
             return ProbeImageFile(path).Refusal == ImageRefusal::NotRegularFile;
         }},
        {"the transfer's read",
         [](const auto& path) {
             const HeldImage held = ReadImageForTransfer(path);
             return held.Probe.Refusal == ImageRefusal::NotRegularFile && held.Bytes.empty();
         }},
        {"the drive copy's read",
         [](const auto& path) {
             return ReadLeadSection(path).Refusal == LeadSectionRefusal::NotRegularFile;
         }},
    };
    for (const auto& reader : readers) {
        SCOPED_TRACE(reader.Name);
        const CImagePipe pipe;
        auto refused =
            std::async(std::launch::async, [&] { return reader.RefusedAsNotRegular(pipe.Path()); });
        if (refused.wait_for(kMustNotWait) != std::future_status::ready) {
            pipe.ReleaseReaders();
            ADD_FAILURE() << "the reader waited on the pipe";
        }
        EXPECT_TRUE(refused.get());
    }
}

// The window's run: a pipe chosen in the file dialog ends the run with the open-error text, and
// neither the run nor the window's closing waits on it.
using ImagePipeRunTest = testing::EngineFixture;

TEST_F(ImagePipeRunTest, APipeChosenAsTheImageEndsTheRunWithTheOpenErrorText) {
    const CImagePipe pipe;
    m_View.ImageAnswer = pipe.Path();
    m_pEngine->Initialise();
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    const auto outcome = m_View.WaitForRunEnd(kMustNotWait);
    pipe.ReleaseReaders();
    EXPECT_EQ(outcome, UpdateOutcome::ImageRefused) << "the run waited on the pipe";
    ASSERT_FALSE(m_View.Prompts().empty());
    EXPECT_EQ(m_View.Prompts().back().Text, "Open file error! Please check the file!");
    EXPECT_FALSE(m_pDevice->ReceivedImageHeader());
}

// A file this user may not read, and one in a folder closed to this user (a checkout in a
// private home folder): both are "permission denied", not "does not exist". As root the check
// runs in a child that has become an ordinary user.
TEST(ImageFileCheckTest, AFileThisUserMayNotReadIsNotCalledMissing) {
    const auto folder = std::filesystem::temp_directory_path() / "tarvex-cli-unreadable";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "private");
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    const auto closedFile = folder / "closed.dat";
    const auto inClosedFolder = folder / "private" / "image.dat";
    ASSERT_TRUE(sim::WriteSampleImage(closedFile, sim::SampleImageSpec{}));
    ASSERT_TRUE(sim::WriteSampleImage(inClosedFolder, sim::SampleImageSpec{}));
    std::filesystem::permissions(closedFile, std::filesystem::perms(0600));
    std::filesystem::permissions(inClosedFolder, std::filesystem::perms(0644));
    std::filesystem::permissions(folder / "private", std::filesystem::perms(0700));

    for (const auto& path : {closedFile, inClosedFolder}) {
        SCOPED_TRACE(path);
        if (::geteuid() != 0) {
            // Owned by this user: closing it to the owner as well.
            std::filesystem::permissions(path, std::filesystem::perms::none);
            std::filesystem::permissions(folder / "private", std::filesystem::perms::none);
            EXPECT_EQ(CheckImageFile(path).Problem, ImageFileProblem::PermissionDenied);
            continue;
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            constexpr uid_t kNobody = 65534;
            if (::setresgid(kNobody, kNobody, kNobody) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0) {
                ::_exit(100);
            }
            ::_exit(static_cast<int>(CheckImageFile(path).Problem));
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 100) << "could not become an ordinary user";
        EXPECT_EQ(static_cast<ImageFileProblem>(WEXITSTATUS(status)),
                  ImageFileProblem::PermissionDenied);
    }
    std::filesystem::permissions(folder / "private", std::filesystem::perms(0700));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvex
