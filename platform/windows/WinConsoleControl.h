#pragma once
// The console control handler that StopOnInterrupt installs on Windows, named here so that a
// test can call it as the system does (the system calls it on a thread of its own).
//
// Ctrl-C and Ctrl-Break set the stop flag and return: the program goes on and ends its run. A
// close of the console window, a log-off or a shutdown ends the program as soon as the handler
// returns, or after about five seconds, so there the handler sets the stop flag and then waits
// for WorkEnded (platform/Terminal.h), at most kConsoleCloseWaitMs: a copy being written is
// finished or removed rather than cut off half-written.

#include <windows.h>

namespace tarvex {

inline constexpr DWORD kConsoleCloseWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event);

}  // namespace tarvex
