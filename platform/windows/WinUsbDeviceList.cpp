#include "platform/windows/WinUsbDeviceList.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

#include "platform/windows/UsbInstanceId.h"
#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinDeviceClasses.h"
#include "platform/windows/WinDeviceTree.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

std::vector<UsbDeviceInfo> CWinUsbDeviceList::ListUsbDevices() {
    const DeviceInfoSet set = AdoptDeviceInfoSet(::SetupDiGetClassDevsW(
        &kUsbDeviceInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    std::vector<UsbDeviceInfo> devices;
    if (!set) {
        return devices;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!::SetupDiEnumDeviceInfo(set.get(), index, &device)) {
            break;
        }
        const auto id = DeviceInstanceId(device.DevInst);
        if (!id) {
            continue;
        }
        const auto ids = ParseUsbInstanceId(*id);
        if (!ids) {
            continue;
        }
        devices.push_back({ids->VendorId, ids->ProductId, WideToUtf8(*id), {}});
    }
    return devices;
}

}  // namespace tarvex
