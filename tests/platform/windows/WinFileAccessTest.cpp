// Opening the image the user named on Windows: only a regular file on a disk is read. A device
// name opens (NUL reports a size of 0), a pipe with a server opens at once, and a folder is
// refused as if it were closed to the user; each must come out as "not a regular file", not as
// an empty image, a missing file or a permission problem.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>

#include "cli/ImageFileCheck.h"
#include "platform/FileAccess.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {
namespace {

std::wstring UniqueName(const std::wstring& stem) {
    static std::atomic<int> counter{0};
    return stem + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
}

TEST(WinFileAccess, OnlyARegularFileOnADiskIsOpened) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / UniqueName(L"tarvex-access");
    std::filesystem::create_directories(folder);
    const std::filesystem::path image = folder / L"image.dat";
    std::ofstream(image, std::ios::binary) << "0123456789abcdef";
    const std::wstring pipeName = L"\\\\.\\pipe\\" + UniqueName(L"tarvex-image");
    const UniqueHandle server =
        AdoptHandle(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 2, 4096, 4096, 0, nullptr));
    // One instance for each open below: a client's open takes an instance until the server
    // lets it go.
    const UniqueHandle secondServer =
        AdoptHandle(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 2, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server && secondServer);

    const struct {
        const char* What;
        std::filesystem::path Path;
    } notFiles[] = {
        {"the NUL device", L"NUL"},
        {"the NUL device by its device path", L"\\\\.\\NUL"},
        {"a named pipe with a server", pipeName},
        {"a folder", folder},
    };
    for (const auto& c : notFiles) {
        SCOPED_TRACE(c.What);
        const CReadableFile file(c.Path);
        EXPECT_TRUE(file.NotRegularFile());
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(file.Error()) << file.Error().message();
        EXPECT_EQ(CheckImageFile(c.Path).Problem, ImageFileProblem::NotRegularFile);
    }

    {
        const CReadableFile file(image);
        ASSERT_TRUE(file.IsOpen()) << file.Error().message();
        EXPECT_EQ(file.Size(), 16U);
    }
    EXPECT_EQ(CheckImageFile(image).Problem, ImageFileProblem::None);
    EXPECT_EQ(CheckImageFile(folder / L"missing.dat").Problem, ImageFileProblem::Missing);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvex
