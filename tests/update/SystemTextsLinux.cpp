#include "tests/update/SystemTexts.h"

#include "ui/LocalizedText.h"

namespace tarvex::testing {

// Install the udev rule.
const std::int32_t kSystemAccessDeniedText = kTextDevicePermissionDenied;

}  // namespace tarvex::testing
