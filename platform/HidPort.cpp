#include "platform/HidPort.h"

namespace tarvex {

const char* ToString(HidIoStatus status) {
    switch (status) {
        case HidIoStatus::Ok:
            return "ok";
        case HidIoStatus::NoHandle:
            return "no handle";
        case HidIoStatus::TimedOut:
            return "timed out";
        case HidIoStatus::DeviceGone:
            return "device gone";
        case HidIoStatus::Failed:
            return "failed";
    }
    return "unknown";
}

}  // namespace tarvex
