#include "platform/DeviceNames.h"

namespace tarvex {

bool SameDeviceName(std::string_view a, std::string_view b) {
    return a == b;
}

}  // namespace tarvex
