#pragma once
// What a window program runs over: the device lists, the language, the drive copy's services,
// the device notices and a run's guards. The programs' main functions gather them (the system's,
// or the virtual device's in the demos); each window's CUpdateApp::Run takes them.

#include "history/RunHistory.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/HidPort.h"
#include "platform/UiLanguage.h"
#include "platform/UsbDeviceList.h"
#include "update/DriveCopy.h"
#include "update/UpdateEngine.h"

namespace tarvex {

struct UpdatePlatform {
    CHidPort& HidPort;
    CUsbDeviceList& UsbDevices;
    const CUiLanguage& Language;
    DriveCopyServices DriveCopy{};
    CDeviceNoticeSource* pDeviceNotices = nullptr;  // null: no hot-plug notices
    RunGuardServices Guards{};                      // empty: runs without lock or sleep block
    const CRunHistory* pHistory = nullptr;          // null: runs are not recorded
};

}  // namespace tarvex
