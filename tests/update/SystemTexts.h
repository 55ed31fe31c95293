#pragma once
// Where the systems word a notice differently, the text this build must show, stated for each
// system by the source the build picks (SystemTextsLinux.cpp, SystemTextsWindows.cpp) instead of
// asked of the code under test.

#include <cstdint>

namespace tarvex::testing {

// The update device is there but the system refuses to open it for this user.
extern const std::int32_t kSystemAccessDeniedText;

}  // namespace tarvex::testing
