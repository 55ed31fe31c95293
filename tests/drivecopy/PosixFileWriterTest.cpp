// The POSIX file writer: the write loop over a scripted write(2), the errno mapping, and whole
// writes to real files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>

#include "platform/linux/PosixFileWriter.h"
#include "platform/linux/UserFolders.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"

namespace tarvex::testing {
namespace {

// write(2) as a script: each entry is what one call returns (a count, or -errno).
struct ScriptedWrite {
    std::deque<ssize_t> Script;
    std::vector<std::uint8_t> Sink;
    std::vector<std::size_t> Asked;

    ssize_t operator()(const std::uint8_t* data, std::size_t size) {
        Asked.push_back(size);
        if (Script.empty()) {
            ADD_FAILURE() << "more calls than scripted";
            errno = EIO;
            return -1;
        }
        const ssize_t step = Script.front();
        Script.pop_front();
        if (step < 0) {
            errno = static_cast<int>(-step);
            return -1;
        }
        const auto count = std::min(static_cast<std::size_t>(step), size);
        Sink.insert(Sink.end(), data, data + count);
        return static_cast<ssize_t>(count);
    }
};

TEST(WriteAllBytesTest, ResumesAfterShortWritesAndInterruptionsAndStopsAtErrors) {
    std::vector<std::uint8_t> bytes(10);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const struct {
        const char* name;
        std::deque<ssize_t> script;
        std::uint64_t written;
        int error;
        std::vector<std::size_t> asked;
    } cases[] = {
        {"all at once", {10}, 10, 0, {10}},
        {"short writes", {3, 3, 3, 1}, 10, 0, {10, 7, 4, 1}},
        {"interrupted, then resumed", {4, -EINTR, -EINTR, 6}, 10, 0, {10, 6, 6, 6}},
        {"full part-way", {4, -ENOSPC}, 4, ENOSPC, {10, 6}},
        {"device gone at once", {-EIO}, 0, EIO, {10}},
        {"no progress without an error", {2, 0}, 2, EIO, {10, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedWrite write{c.script, {}, {}};
        const WriteAllResult result = WriteAllBytes(
            bytes, [&](const std::uint8_t* data, std::size_t size) { return write(data, size); });
        EXPECT_EQ(result.Written, c.written);
        EXPECT_EQ(result.Errno, c.error);
        EXPECT_EQ(write.Asked, c.asked);
        EXPECT_TRUE(write.Script.empty());
        // Whatever got out went in order, each byte once.
        EXPECT_EQ(write.Sink,
                  std::vector<std::uint8_t>(
                      bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.written)));
    }
}

TEST(WriteAllBytesTest, NothingToWriteCallsNothing) {
    ScriptedWrite write;
    const auto result = WriteAllBytes(
        {}, [&](const std::uint8_t* data, std::size_t size) { return write(data, size); });
    EXPECT_EQ(result.Written, 0U);
    EXPECT_EQ(result.Errno, 0);
    EXPECT_TRUE(write.Asked.empty());
}

TEST(PosixFileWriterTest, ErrnoMapping) {
    const struct {
        int error;
        FileWriteError mapped;
    } cases[] = {
        {0, FileWriteError::None},
        {ENOSPC, FileWriteError::NoSpace},
        {EDQUOT, FileWriteError::NoSpace},
        {EROFS, FileWriteError::ReadOnly},
        {EACCES, FileWriteError::PermissionDenied},
        {EPERM, FileWriteError::PermissionDenied},
        {ENODEV, FileWriteError::DeviceGone},
        {ENXIO, FileWriteError::DeviceGone},
        {EIO, FileWriteError::IoError},
        {ENOENT, FileWriteError::Other},
        {ENOTDIR, FileWriteError::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileWriteErrorFromErrno(c.error), c.mapped) << c.error;
    }
}

class PosixFileWriterFileTest : public ::testing::Test {
protected:
    CScratchFolder m_Folder;
    CPosixFileWriter m_Writer;
};

TEST_F(PosixFileWriterFileTest, CreatesAndReplacesUnderTheFinalName) {
    const auto path = m_Folder.Path() / "1.dat";
    const std::vector<std::uint8_t> first(5000, 0x11);
    const std::vector<std::uint8_t> second(700, 0x22);  // shorter: the rest must go

    ASSERT_TRUE(m_Writer.WriteWholeFile(path, first).Ok());
    EXPECT_EQ(ReadBytes(path), first);
    const auto result = m_Writer.WriteWholeFile(path, second);
    ASSERT_TRUE(result.Ok()) << result.Message;
    EXPECT_EQ(result.BytesWritten, second.size());
    EXPECT_EQ(ReadBytes(path), second);
    // Nothing else was left in the folder (no temporary name).
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_Folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(PosixFileWriterFileTest, AFolderThatCannotHoldTheFileFailsAtOpen) {
    const auto notAFolder = m_Folder.Path() / "plain-file";
    WriteBytes(notAFolder, std::vector<std::uint8_t>{1});
    for (const auto& path : {m_Folder.Path() / "missing" / "1.dat", notAFolder / "1.dat"}) {
        const auto result = m_Writer.WriteWholeFile(path, std::vector<std::uint8_t>(10, 1));
        EXPECT_FALSE(result.Ok()) << path;
        EXPECT_EQ(result.FailedAt, FileWriteStep::Open) << path;
        EXPECT_FALSE(result.FileTouched());
        EXPECT_FALSE(result.Message.empty());
    }
}

TEST(UserFoldersTest, CacheFolderFollowsTheXdgRules) {
    using Env = std::map<std::string, std::string, std::less<>>;
    const struct {
        Env env;
        std::string folder;
    } cases[] = {
        {{{"XDG_CACHE_HOME", "/xdg"}, {"HOME", "/home/u"}}, "/xdg/tarvex-update"},
        {{{"HOME", "/home/u"}}, "/home/u/.cache/tarvex-update"},
        {{{"XDG_CACHE_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.cache/tarvex-update"},
        {{{"XDG_CACHE_HOME", "relative/cache"}, {"HOME", "/home/u"}},
         "/home/u/.cache/tarvex-update"},
        {{{"HOME", "relative"}}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const auto folder = UserCacheFolder(kProgramCacheSubfolder, [&](std::string_view name) {
            const auto found = c.env.find(name);
            return found == c.env.end() ? std::nullopt : std::optional<std::string>(found->second);
        });
        EXPECT_EQ(folder, c.folder);
    }
}

TEST(UserFoldersTest, ProgramFolderIsTheTestBinarysOwn) {
    const auto folder = RunningProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "drivecopy_tests"));
}

}  // namespace
}  // namespace tarvex::testing
