#include "tests/update/SystemTexts.h"

#include "ui/LocalizedText.h"

namespace tarvex::testing {

// No udev here: close the tools that hide the device.
const std::int32_t kSystemAccessDeniedText = kTextDeviceAccessDeniedWindows;

}  // namespace tarvex::testing
