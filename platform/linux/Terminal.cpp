// The terminal program's console on Linux: argv as it is, poll(2) and read(2) on the input,
// sigaction for SIGINT and SIGTERM.

#include "platform/Terminal.h"

#include <signal.h>
#include <unistd.h>

#include "platform/DeviceNoticeSource.h"
#include "platform/linux/PollWait.h"

namespace tarvex {

namespace {

std::atomic<bool>* StopFlag = nullptr;

extern "C" void OnInterrupt(int) {
    if (StopFlag != nullptr) {
        StopFlag->store(true);
    }
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::filesystem::path PathFromArgument(std::string_view argument) {
    return std::filesystem::path(std::string(argument));
}

void PrepareStandardStreams() {}

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void StopOnInterrupt(std::atomic<bool>& stopRequested) {
    StopFlag = &stopRequested;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void WorkEnded() {}

TerminalRead ReadTerminalByte(int fd, char& byte, std::chrono::milliseconds wait) {
    if (WaitUntilReadable(fd, wait) != NoticeWait::Waiting) {
        return TerminalRead::NothingYet;
    }
    return ::read(fd, &byte, 1) == 1 ? TerminalRead::Byte : TerminalRead::Ended;
}

}  // namespace tarvex
