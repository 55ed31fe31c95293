#pragma once
// What the terminal program needs of its console besides the C++ streams: its arguments, the
// standard streams set up to carry the program's UTF-8 bytes unchanged, whether they are
// terminals, Ctrl-C, and reading one byte of an answer without waiting past a time-out.
// Linux: platform/linux/Terminal.cpp; Windows: platform/windows/Terminal.cpp.
//
// Threads: PrepareStandardStreams and StopOnInterrupt once, at start-up, on the main thread;
// ReadTerminalByte on one thread at a time; the rest on any thread.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// The arguments after the program's name, in UTF-8. On Windows they come from the wide command
// line, so that a path in any script survives; on Linux they are argv's bytes as they are.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// A path named by an argument from ProgramArguments.
std::filesystem::path PathFromArgument(std::string_view argument);

// Makes what the program writes reach its standard output and error byte for byte, in UTF-8
// (on Windows: no CR inserted before LF, and a console shows UTF-8). Nothing to do on Linux.
void PrepareStandardStreams();

bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();

// From now on Ctrl-C (and a termination request) sets `stopRequested` instead of ending the
// program. `stopRequested` must live as long as the program.
void StopOnInterrupt(std::atomic<bool>& stopRequested);

// The program's run is over (a copy being written is finished or removed). Where the system
// ends the program shortly after asking it to stop (Windows, when its console is closed), the
// request waits for this, within the time the system allows, so that nothing is cut off
// half-written. Nothing to do on Linux, where a termination request only sets the flag.
void WorkEnded();

enum class TerminalRead {
    Byte,        // `byte` holds the next byte of input
    NothingYet,  // nothing came within the time; ask again
    Ended,       // the input ended or cannot be read
};

// Waits at most about `wait` for one byte of the input `fd` (0: standard input) and reads it.
// Line ends arrive as a single '\n'. A Windows console hands over its input line by line, so
// there a started line is waited for until its Enter (or Ctrl-C).
TerminalRead ReadTerminalByte(int fd, char& byte, std::chrono::milliseconds wait);

}  // namespace tarvex
