#pragma once
// CUpdateApp: the window program's application object. Run makes the main dialog over the
// services it is given, runs it modally and returns when it has closed, after every worker
// has been stopped and joined.
//
// Threads: the program's main thread, which becomes the window's thread.

#include <QApplication>

#include "platform/DeviceNoticeSource.h"
#include "platform/HidPort.h"
#include "platform/UiLanguage.h"
#include "platform/UsbDeviceList.h"
#include "update/DriveCopy.h"
#include "update/UpdateEngine.h"

namespace tarvex {

// The desktop entry's id; Wayland finds the program's icon through it.
inline constexpr const char* kDesktopFileName = "com.tarvex.Update";

struct UpdatePlatform {
    CHidPort& HidPort;
    CUsbDeviceList& UsbDevices;
    const CUiLanguage& Language;
    DriveCopyServices DriveCopy{};
    CDeviceNoticeSource* pDeviceNotices = nullptr;  // null: no hot-plug notices
    RunGuardServices Guards{};                      // empty: runs without lock or sleep block
};

class CUpdateApp final : public QApplication {
public:
    CUpdateApp(int& argc, char** argv);

    // Runs the main dialog until it closes; returns the program's exit status (0).
    int Run(const UpdatePlatform& platform);
};

}  // namespace tarvex
