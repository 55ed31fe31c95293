#pragma once
// CUpdateApp: the window program's application object on Win32. Run makes the main dialog over
// the services it is given, runs the window thread's message loop until the dialog has closed,
// and returns after every worker has been stopped and joined.
//
// Threads: the program's main thread, which becomes the window's thread.

#include "app/UpdatePlatform.h"
#include "platform/windows/WinDialogDeviceNotices.h"

namespace tarvex {

class CUpdateApp final {
public:
    // Registers the common controls the dialog uses.
    CUpdateApp();

    // Runs the main dialog until it closes; returns the program's exit status (0, or 1 when the
    // window could not be made). `dialogNotices`, when set, is the system's notice source
    // registered on the dialog itself, and stands in for platform.pDeviceNotices.
    int Run(const UpdatePlatform& platform, CWinDialogDeviceNotices* dialogNotices = nullptr);
};

}  // namespace tarvex
