#include "platform/DeviceLock.h"

namespace tarvex {

const char* ToString(DeviceLockError error) {
    switch (error) {
        case DeviceLockError::None:
            return "none";
        case DeviceLockError::Busy:
            return "busy with another program";
        case DeviceLockError::Unavailable:
            return "cannot be locked";
    }
    return "unknown";
}

}  // namespace tarvex
