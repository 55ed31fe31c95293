// The image check against the permissions of a POSIX file system, as an ordinary user would
// meet them.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "cli/ImageFileCheck.h"
#include "sim/SampleImage.h"

namespace tarvex {
namespace {

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
