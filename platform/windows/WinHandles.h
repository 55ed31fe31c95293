#pragma once
// Owners of the Windows handles the backends hold, so that every way out of a function releases
// them. Nothing outside platform/windows/ sees one.

#include <windows.h>

#include <setupapi.h>

#include <memory>
#include <type_traits>

namespace tarvex {

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
    }
};

// A kernel handle (file, event); empty for both null and INVALID_HANDLE_VALUE, since the calls
// disagree on which one means "none".
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

inline UniqueHandle AdoptHandle(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct DeviceInfoSetCloser {
    void operator()(HDEVINFO set) const {
        if (set != nullptr && set != INVALID_HANDLE_VALUE) {
            ::SetupDiDestroyDeviceInfoList(set);
        }
    }
};

// A SetupAPI device information set.
using DeviceInfoSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceInfoSetCloser>;

inline DeviceInfoSet AdoptDeviceInfoSet(HDEVINFO set) {
    return DeviceInfoSet(set == INVALID_HANDLE_VALUE ? nullptr : set);
}

}  // namespace tarvex
