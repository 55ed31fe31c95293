#pragma once
// The present USB devices of a Windows machine: every device of the USB device interface class
// through SetupAPI, with vendor and product ID from its instance ID (UsbInstanceId.h) and the
// instance ID itself, in UTF-8, as its SystemPath.
//
// Threads: any; each call asks the system anew.

#include <vector>

#include "platform/UsbDeviceList.h"

namespace tarvex {

class CWinUsbDeviceList final : public CUsbDeviceList {
public:
    // In the order SetupAPI lists them. A device whose instance ID cannot be read or names no
    // vendor and product is left out; every device is looked at.
    std::vector<UsbDeviceInfo> ListUsbDevices() override;
};

}  // namespace tarvex
