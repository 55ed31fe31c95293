#include "platform/windows/WinDeviceClasses.h"

// The HID library's headers in mingw-w64 lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

namespace tarvex {

GUID HidInterfaceClass() {
    GUID hidClass{};
    ::HidD_GetHidGuid(&hidClass);
    return hidClass;
}

}  // namespace tarvex
