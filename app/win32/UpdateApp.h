#pragma once
// CUpdateApp: the window program's application object on Win32. Run makes the main dialog over
// the services it is given, runs the window thread's message loop until the dialog has closed,
// and returns after every worker has been stopped and joined.
//
// Threads: the program's main thread, which becomes the window's thread.

#include "platform/DeviceNoticeSource.h"
#include "platform/HidPort.h"
#include "platform/UiLanguage.h"
#include "platform/UsbDeviceList.h"
#include "platform/windows/WinDialogDeviceNotices.h"
#include "update/DriveCopy.h"
#include "update/UpdateEngine.h"

namespace tarvex {

struct UpdatePlatform {
    CHidPort& HidPort;
    CUsbDeviceList& UsbDevices;
    const CUiLanguage& Language;
    DriveCopyServices DriveCopy{};
    CDeviceNoticeSource* pDeviceNotices = nullptr;  // null: no hot-plug notices
    RunGuardServices Guards{};
    // The system's notices, registered on the dialog itself; when set, pDeviceNotices is it.
    CWinDialogDeviceNotices* pDialogNotices = nullptr;
};

class CUpdateApp final {
public:
    // Registers the common controls the dialog uses.
    CUpdateApp();

    // Runs the main dialog until it closes; returns the program's exit status (0, or 1 when the
    // window could not be made).
    int Run(const UpdatePlatform& platform);
};

}  // namespace tarvex
