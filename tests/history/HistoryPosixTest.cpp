// The history's file between processes and beside what a POSIX file name can lead to.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    std::vector<pid_t> children;
    for (const char who : {'a', 'b'}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                RunRecord record = SampleRecord(std::string(1, who) + std::to_string(i));
                record.Reports = {bulk};
                failures += history.Append(record).Ok() ? 0 : 1;
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
    const HistoryContents contents = history.Read();
    EXPECT_TRUE(contents.Notes.empty()) << contents.Notes.front();
    ASSERT_EQ(contents.Records.size(), kHistoryRecordLimit);
    for (const char who : {'a', 'b'}) {
        int last = -1;
        for (const RunRecord& record : contents.Records) {
            ASSERT_EQ(record.Reports, std::vector<std::string>{bulk});
            if (record.Reason[0] == who) {
                const int number = std::stoi(record.Reason.substr(1));
                EXPECT_GT(number, last);
                last = number;
            }
        }
        EXPECT_EQ(last, kEach - 1) << who;
    }
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
