#pragma once
// The terminal program: one update of one device, driven through the same engine as the window.

#include <atomic>
#include <ostream>

#include "cli/CliOptions.h"
#include "history/RunHistory.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/HidPort.h"
#include "platform/UiLanguage.h"
#include "platform/UsbDeviceList.h"
#include "update/DriveCopy.h"
#include "update/UpdateEngine.h"

namespace tarvex {

struct CliPlatform {
    CHidPort& HidPort;
    CUsbDeviceList& UsbDevices;
    const CUiLanguage& Language;
    // The volumes, file writer and folders of a drive-copy run; empty members make such a run
    // fail without writing anything.
    DriveCopyServices DriveCopy{};
    // The device notices --wait listens to; null where there are none (--wait then fails).
    CDeviceNoticeSource* pDeviceNotices = nullptr;
    // The devices' locks and the sleep inhibitor; empty members: a run goes without them.
    RunGuardServices Guards{};
    // Where every run that reached a device is recorded, and what --history prints; null: runs
    // are not recorded.
    const CRunHistory* pHistory = nullptr;
};

struct CliStreams {
    std::ostream& Out;
    std::ostream& Err;
    int InputFd = 0;
    bool bInputIsTerminal = false;
    bool bOutputIsTerminal = false;
};

// Runs what `options` ask for on the given platform and returns the exit status.
// `stopRequested` becomes true when the user interrupts (Ctrl-C).
int RunCli(const CliOptions& options, const CliPlatform& platform, const CliStreams& streams,
           const std::atomic<bool>& stopRequested);

// Prints the attached updatable devices, one per line.
void ListUpdatableDevices(CHidPort& hidPort, CUsbDeviceList& usbDevices, std::ostream& out);

}  // namespace tarvex
