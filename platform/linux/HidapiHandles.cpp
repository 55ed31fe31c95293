#include "platform/linux/HidapiHandles.h"

namespace tarvex {

std::unique_lock<std::mutex> LockHidapiGlobals() {
    static std::mutex globals;
    return std::unique_lock(globals);
}

void HidDeviceCloser::operator()(hid_device* device) const {
    const auto lock = LockHidapiGlobals();
    hid_close(device);
}

}  // namespace tarvex
