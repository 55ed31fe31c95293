// The terminal program's console on Windows: the wide command line and an answer read from a
// pipe with CR LF line ends.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "platform/Terminal.h"

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

}  // namespace
}  // namespace tarvex
