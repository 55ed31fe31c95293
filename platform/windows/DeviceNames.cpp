#include "platform/DeviceNames.h"

#include <windows.h>

#include "platform/windows/Utf16Text.h"

namespace tarvex {

bool SameDeviceName(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    const std::wstring wideA = Utf8ToWide(a);
    const std::wstring wideB = Utf8ToWide(b);
    // The system's own case rule for names (file and object names), not the user's locale's.
    return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace tarvex
