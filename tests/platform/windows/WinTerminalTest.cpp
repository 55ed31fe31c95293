// The terminal program's console on Windows: the wide command line, an answer read from a pipe
// with CR LF line ends, and what Ctrl-C and a closing console do to a run.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "platform/Terminal.h"
#include "platform/windows/WinConsoleControl.h"

namespace tarvex {
namespace {

constexpr std::chrono::milliseconds kShortWait{30};

TEST(WinTerminal, ArgumentsAndPathsKeepEveryCharacter) {
    // The wide command line of this very test process holds at least its own name.
    char* argv[] = {const_cast<char*>("prog.exe"), nullptr};
    EXPECT_TRUE(ProgramArguments(1, argv).empty() || !ProgramArguments(1, argv)[0].empty());

    const std::filesystem::path path =
        PathFromArgument("C:\\\xE5\x9B\xBA\xE4\xBB\xB6\\\xC3\xA9.dat");
    EXPECT_EQ(path.wstring(), L"C:\\\x56FA\x4EF6\\\x00E9.dat");
    EXPECT_EQ(path.filename().wstring(), L"\x00E9.dat");
}

TEST(WinTerminal, AnAnswerFromAPipeArrivesWithoutItsCarriageReturn) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::_pipe(fds, 4096, _O_BINARY), 0);
    const std::string typed = "y\r\n";
    ASSERT_EQ(::_write(fds[1], typed.data(), static_cast<unsigned>(typed.size())), 3);

    char byte = 0;
    ASSERT_EQ(ReadTerminalByte(fds[0], byte, kShortWait), TerminalRead::Byte);
    EXPECT_EQ(byte, 'y');
    ASSERT_EQ(ReadTerminalByte(fds[0], byte, kShortWait), TerminalRead::Byte);
    EXPECT_EQ(byte, '\n');
    EXPECT_EQ(ReadTerminalByte(fds[0], byte, kShortWait), TerminalRead::NothingYet)
        << "an empty pipe whose writer is still there: ask again";
    ::_close(fds[1]);
    EXPECT_EQ(ReadTerminalByte(fds[0], byte, kShortWait), TerminalRead::Ended);
    ::_close(fds[0]);
}

// Bound for a wait that another thread ends; a guard against hangs, not a measurement.
constexpr std::chrono::milliseconds kHangGuard{20'000};

bool WaitForStop(const std::atomic<bool>& stop) {
    const auto end = std::chrono::steady_clock::now() + kHangGuard;
    while (!stop.load()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The system ends the program as soon as the handler of a console's close returns: a drive copy
// still being written would be cut off. The handler stops the run and returns only once the run
// has ended, as the terminal program's main thread reports it.
TEST(WinTerminal, ClosingTheConsoleStopsTheRunAndReturnsOnlyOnceItEnded) {
    for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
        SCOPED_TRACE(event);
        std::atomic<bool> stop{false};
        std::atomic<bool> runEnded{false};
        StopOnInterrupt(stop);
        auto closing = std::async(std::launch::async, [&] {
            const BOOL handled = OnConsoleControl(event);
            return std::make_pair(handled, runEnded.load());
        });
        ASSERT_TRUE(WaitForStop(stop)) << "the run was not asked to stop";
        // The run ends its copy, then the program says so.
        runEnded.store(true);
        WorkEnded();
        ASSERT_EQ(closing.wait_for(kHangGuard), std::future_status::ready);
        const auto [handled, endedBeforeReturn] = closing.get();
        EXPECT_TRUE(handled);
        EXPECT_TRUE(endedBeforeReturn) << "the close let the system end the program mid-run";
    }
}

TEST(WinTerminal, CtrlCOnlyAsksTheRunToStop) {
    for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
        std::atomic<bool> stop{false};
        StopOnInterrupt(stop);
        // Returns without WorkEnded: the program goes on and reports how its run ended.
        EXPECT_TRUE(OnConsoleControl(event));
        EXPECT_TRUE(stop.load());
    }
}

}  // namespace
}  // namespace tarvex
