// The history's file between processes and beside what a POSIX file name can lead to.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>

#include <atomic>
#include <map>

#include "history/RunHistory.h"
#include "platform/linux/UserFolders.h"
#include "tests/history/HistoryTestSupport.h"

namespace tarvex {
namespace {

struct HistoryPosixFixture : ::testing::Test {
    std::filesystem::path folder = ScratchFolder("tarvex-history-posix");
    CRunHistory history{folder / kHistoryFileName};
    void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(HistoryPosixFixture, TwoProcessesAppendingAtOnceLeaveEveryRecordWhole) {
    constexpr int kEach = 120;
    const std::string bulk(5000, 'r');
    // Neither runs more than a few appends ahead of the other (counters in memory both
    // processes share): two programs append a record per run, never a burst that keeps the lock
    // from the other for the whole wait.
    void* shared = ::mmap(nullptr, 2 * sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* done = new (shared) std::atomic<int>[2] {};
    static_assert(std::atomic<int>::is_always_lock_free);
    std::vector<pid_t> children;
    for (const char who : {'a', 'b'}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int self = who == 'a' ? 0 : 1;
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                while (done[self].load() > done[1 - self].load() + 3 &&
                       done[1 - self].load() < kEach) {
                    ::sched_yield();
                }
                RunRecord record = SampleRecord(std::string(1, who) + std::to_string(i));
                record.Reports = {bulk};
                failures += history.Append(record).Ok() ? 0 : 1;
                ++done[self];
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an append failed";
    }
    ::munmap(shared, 2 * sizeof(std::atomic<int>));
    const HistoryContents contents = history.Read();
    EXPECT_TRUE(contents.Notes.empty()) << contents.Notes.front();
    ASSERT_EQ(contents.Records.size(), kHistoryRecordLimit);
    for (const RunRecord& record : contents.Records) {
        ASSERT_EQ(record.Reports, std::vector<std::string>{bulk});
    }
    ExpectEachAppendersOrder(contents.Records, kEach);
}

// Another program that keeps the lock (here: a second open of the lock file, which flock treats
// as another holder) costs this one its record, never the update: the append gives up with
// LockBusy and leaves the file alone; once the lock is let go, appends work again.
TEST_F(HistoryPosixFixture, ALockHeldByAnotherProgramIsGivenUpOn) {
    ASSERT_TRUE(history.Append(SampleRecord("before")).Ok());
    const std::filesystem::path lockPath = history.File().string() + ".lock";
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const RecordFileResult busy = history.Append(SampleRecord("while held"));
    EXPECT_EQ(busy.Error, RecordFileError::LockBusy) << busy.Detail;
    EXPECT_EQ(history.Read().Read.Error, RecordFileError::LockBusy);

    ::close(holder);
    ASSERT_TRUE(history.Append(SampleRecord("after")).Ok());
    const HistoryContents contents = history.Read();
    ASSERT_EQ(contents.Records.size(), 2U);
    EXPECT_EQ(contents.Records[0].Reason, "before");
    EXPECT_EQ(contents.Records[1].Reason, "after");
}

// A pipe would keep an open for writing waiting for a reader for ever.
TEST_F(HistoryPosixFixture, APipeInTheHistorysPlaceIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(history.File().c_str(), 0600), 0);
    EXPECT_EQ(history.Append(SampleRecord("x")).Error, RecordFileError::NotRegularFile);
    EXPECT_EQ(history.Read().Read.Error, RecordFileError::NotRegularFile);
}

TEST_F(HistoryPosixFixture, ALinkInTheHistorysPlaceIsNotFollowed) {
    const std::filesystem::path elsewhere = folder / "elsewhere";
    std::filesystem::create_symlink(elsewhere, history.File());
    EXPECT_EQ(history.Append(SampleRecord("x")).Error, RecordFileError::NotRegularFile);
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
}

TEST(UserStateFolderTest, FollowsTheXdgRules) {
    using Env = std::map<std::string, std::string, std::less<>>;
    const struct {
        Env env;
        std::string folder;
    } cases[] = {
        {{{"XDG_STATE_HOME", "/xdg"}, {"HOME", "/home/u"}}, "/xdg/tarvex-update"},
        {{{"HOME", "/home/u"}}, "/home/u/.local/state/tarvex-update"},
        {{{"XDG_STATE_HOME", "relative"}, {"HOME", "/home/u"}},
         "/home/u/.local/state/tarvex-update"},
        {{{"XDG_CACHE_HOME", "/cache"}}, ""},
    };
    for (const auto& c : cases) {
        const auto folder = UserStateFolder(kProgramCacheSubfolder, [&](std::string_view name) {
            const auto found = c.env.find(name);
            return found == c.env.end() ? std::nullopt : std::optional<std::string>(found->second);
        });
        EXPECT_EQ(folder, c.folder);
    }
}

}  // namespace
}  // namespace tarvex
