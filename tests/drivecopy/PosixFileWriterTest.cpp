// The POSIX file writer: the write loop over a scripted write(2), the errno mapping, the order
// of its system calls, and whole writes to real files and to names that are not regular files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <thread>

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

// The real calls, logged, with one of them made to fail on request.
class CRecordingFileCalls final : public CPosixFileCalls {
    template <typename Call>
    auto Logged(const char* name, Call call) {
        Log.push_back(name);
        if (FailCall == name) {
            errno = FailErrno;
            return static_cast<decltype(call())>(-1);
        }
        return call();
    }

public:
    std::vector<std::string> Log;
    std::string FailCall;  // the name of the call that fails, with FailErrno
    int FailErrno = 0;

    int Open(const char* path, int flags, mode_t mode) override {
        return Logged("open", [&] { return CPosixFileCalls::Open(path, flags, mode); });
    }
    int Fstat(int fd, struct stat& status) override {
        return Logged("fstat", [&] { return CPosixFileCalls::Fstat(fd, status); });
    }
    int TruncateToEmpty(int fd) override {
        return Logged("truncate", [&] { return CPosixFileCalls::TruncateToEmpty(fd); });
    }
    ssize_t Write(int fd, const std::uint8_t* data, std::size_t size) override {
        return Logged("write", [&] { return CPosixFileCalls::Write(fd, data, size); });
    }
    int Fsync(int fd) override {
        return Logged("fsync", [&] { return CPosixFileCalls::Fsync(fd); });
    }
    int Close(int fd) override {
        // The descriptor goes whether or not the close is made to fail.
        const int closed = CPosixFileCalls::Close(fd);
        Log.push_back("close");
        if (FailCall == "close") {
            errno = FailErrno;
            return -1;
        }
        return closed;
    }
};

// The bytes reach the device before success is said: fsync after the last write and before
// the close, success only after the close; a failed flush or close is a failed write.
TEST_F(PosixFileWriterFileTest, FlushesAfterTheLastWriteAndBeforeSayingSo) {
    const auto path = m_Folder.Path() / "1.dat";
    const std::vector<std::uint8_t> bytes(5000, 0x33);
    const struct {
        std::string failCall;
        int error;
        FileWriteStep failedAt;
        FileWriteError mapped;
    } cases[] = {
        {"", 0, FileWriteStep::Close, FileWriteError::None},
        {"fsync", EIO, FileWriteStep::Flush, FileWriteError::IoError},
        {"close", EIO, FileWriteStep::Close, FileWriteError::IoError},
        {"write", ENOSPC, FileWriteStep::Write, FileWriteError::NoSpace},
        {"truncate", EROFS, FileWriteStep::Open, FileWriteError::ReadOnly},
        {"fstat", EIO, FileWriteStep::Open, FileWriteError::IoError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failCall.empty() ? "nothing fails" : c.failCall);
        CRecordingFileCalls calls;
        calls.FailCall = c.failCall;
        calls.FailErrno = c.error;
        const FileWriteResult result = CPosixFileWriter(calls).WriteWholeFile(path, bytes);
        EXPECT_EQ(result.Error, c.mapped) << result.Message;
        EXPECT_EQ(result.FailedAt, c.failedAt);
        // Every descriptor opened is closed again, once.
        EXPECT_EQ(std::count(calls.Log.begin(), calls.Log.end(), "close"), 1);
        if (!c.failCall.empty()) {
            continue;
        }
        EXPECT_TRUE(result.Ok());
        ASSERT_GE(calls.Log.size(), 3U);
        EXPECT_EQ(calls.Log.front(), "open");
        EXPECT_EQ(calls.Log.back(), "close");
        EXPECT_EQ(calls.Log[calls.Log.size() - 2], "fsync") << "no flush between the last write "
                                                               "and the close";
        EXPECT_EQ(ReadBytes(path), bytes);
    }
}

// Only a regular file is written. A link is not followed, whatever it points at; a pipe is not
// written into, whether or not someone reads it, and opening it never waits for a reader; a
// folder stays a folder. Each is left as it was.
TEST_F(PosixFileWriterFileTest, WritesOnlyIntoARegularFile) {
    const auto path = m_Folder.Path() / "1.dat";
    const auto outside = m_Folder.Path() / "outside.bin";
    const auto notYet = m_Folder.Path() / "not-yet.bin";
    const std::vector<std::uint8_t> precious(300, 0x5A);
    int reader = -1;
    const struct {
        const char* name;
        std::function<void()> make;
        std::function<bool()> unchanged;
    } cases[] = {
        {"a link to a file", [&] { std::filesystem::create_symlink(outside, path); },
         [&] { return std::filesystem::is_symlink(path) && ReadBytes(outside) == precious; }},
        {"a link to nothing yet", [&] { std::filesystem::create_symlink(notYet, path); },
         [&] { return std::filesystem::is_symlink(path) && !std::filesystem::exists(notYet); }},
        {"a link to a folder",
         [&] {
             std::filesystem::create_directories(m_Folder.Path() / "folder");
             std::filesystem::create_directory_symlink(m_Folder.Path() / "folder", path);
         },
         [&] {
             return std::filesystem::is_symlink(path) &&
                    std::filesystem::is_empty(m_Folder.Path() / "folder");
         }},
        {"a pipe nobody reads", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); },
         [&] { return std::filesystem::is_fifo(path); }},
        {"a pipe somebody reads",
         [&] {
             ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
             reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             ASSERT_GE(reader, 0);
         },
         [&] {
             char byte = 0;
             return std::filesystem::is_fifo(path) && ::read(reader, &byte, 1) <= 0;
         }},
        {"a folder", [&] { std::filesystem::create_directory(path); },
         [&] { return std::filesystem::is_directory(path) && std::filesystem::is_empty(path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(path);
        WriteBytes(outside, precious);
        c.make();
        auto writing = std::async(std::launch::async, [&] {
            return m_Writer.WriteWholeFile(path, std::vector<std::uint8_t>(4096, 0x11));
        });
        if (writing.wait_for(kMustNotBlock) == std::future_status::timeout) {
            ADD_FAILURE() << "the write was still blocked after " << kMustNotBlock.count() << " s";
            ReleasePipeWriter(path);
        }
        const FileWriteResult result = writing.get();
        EXPECT_EQ(result.Error, FileWriteError::NotRegularFile) << result.Message;
        EXPECT_EQ(result.FailedAt, FileWriteStep::Open);
        EXPECT_FALSE(result.FileTouched());
        EXPECT_TRUE(c.unchanged());
        if (reader >= 0) {
            ::close(reader);
            reader = -1;
        }
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

}  // namespace
}  // namespace tarvex::testing
