#pragma once
// Owners for what hidapi hands out, and the lock its global state needs.
//
// hidapi's hidraw backend keeps the error text of hid_enumerate, hid_open_path and hid_close
// in one process-wide static that it frees and replaces on every such call, without a lock.
// Every call of those three goes through LockHidapiGlobals, so that two threads never replace
// it at once. Reads and writes touch only their own device's state.

#include <hidapi.h>

#include <memory>
#include <mutex>

namespace tarvex {

[[nodiscard]] std::unique_lock<std::mutex> LockHidapiGlobals();

// Closes under the global lock; never destroy one while holding that lock.
struct HidDeviceCloser {
    void operator()(hid_device* device) const;
};
using HidDevicePtr = std::unique_ptr<hid_device, HidDeviceCloser>;

struct HidDeviceInfoListFree {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
using HidDeviceInfoList = std::unique_ptr<hid_device_info, HidDeviceInfoListFree>;

}  // namespace tarvex
