// The Windows file writer on the real file system (under wine, the host's): wide names, an
// existing longer file replaced under its name, and names that are not a regular file.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/windows/WinFileWriter.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

std::vector<std::uint8_t> Content(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

class WinFileWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = std::filesystem::temp_directory_path() /
                   (L"tarvex-writer-\x56FA\x4EF6-" +
                    std::to_wstring(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::create_directories(m_Folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_Folder); }

    std::filesystem::path m_Folder;
    CWinFileWriter m_Writer;
};

TEST_F(WinFileWriterTest, WritesAndReplacesUnderAWideName) {
    const auto target = m_Folder / L"\x00E9t\x00E9-1.dat";
    const auto longer = Bytes(9000, 1);
    const auto first = m_Writer.WriteWholeFile(target, longer);
    ASSERT_TRUE(first.Ok()) << first.Message;
    EXPECT_EQ(first.BytesWritten, longer.size());
    EXPECT_EQ(Content(target), longer);

    const auto shorter = Bytes(4608, 7);
    ASSERT_TRUE(m_Writer.WriteWholeFile(target, shorter).Ok());
    EXPECT_EQ(Content(target), shorter) << "replaced whole: nothing of the longer file is left";

    ASSERT_TRUE(m_Writer.WriteWholeFile(target, {}).Ok());
    EXPECT_EQ(std::filesystem::file_size(target), 0U);
}

TEST_F(WinFileWriterTest, AFolderOrAMissingFolderFailsAtOpenAndIsLeftAsItWas) {
    const auto folder = m_Folder / "1.dat";
    std::filesystem::create_directory(folder);
    const auto refused = m_Writer.WriteWholeFile(folder, Bytes(10, 0));
    EXPECT_EQ(refused.Error, FileWriteError::NotRegularFile);
    EXPECT_FALSE(refused.FileTouched());
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    const auto missing =
        m_Writer.WriteWholeFile(m_Folder / "no-such-folder" / "1.dat", Bytes(10, 0));
    EXPECT_FALSE(missing.Ok());
    EXPECT_EQ(missing.FailedAt, FileWriteStep::Open);
    EXPECT_FALSE(missing.Message.empty()) << "the system's own words are kept";
}

TEST_F(WinFileWriterTest, ADeviceNameIsNeverWrittenAsAFile) {
    // NUL opens on every Windows; it is not a file, whatever folder it is named in.
    const auto refused = m_Writer.WriteWholeFile(L"NUL", Bytes(10, 0));
    EXPECT_EQ(refused.Error, FileWriteError::NotRegularFile);
    EXPECT_EQ(refused.FailedAt, FileWriteStep::Open);
}

// A file that is mapped into memory cannot be cut short: the earlier 1.dat must then stay
// whole, and the failure must say that the file was not touched (so that nobody removes it).
TEST_F(WinFileWriterTest, AFileThatCannotBeCutShortIsLeftWhole) {
    const auto target = m_Folder / L"1.dat";
    const auto earlier = Bytes(4096, 7);
    ASSERT_TRUE(m_Writer.WriteWholeFile(target, earlier).Ok());
    UniqueHandle file =
        AdoptHandle(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    UniqueHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping);
    const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    file.reset();

    const auto refused = m_Writer.WriteWholeFile(target, Bytes(100, 1));
    ::UnmapViewOfFile(view);
    mapping.reset();
    EXPECT_FALSE(refused.Ok());
    EXPECT_FALSE(refused.FileTouched()) << ToString(refused.FailedAt) << ": " << refused.Message;
    EXPECT_EQ(Content(target), earlier);
}

}  // namespace
}  // namespace tarvex
