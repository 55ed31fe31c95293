#include "platform/HidAccessRemedy.h"

namespace tarvex {

// hidraw nodes belong to root unless a rule hands them to the logged-in user; the package ships
// such a rule.
HidAccessRemedy SystemHidAccessRemedy() {
    return HidAccessRemedy::InstallDeviceRule;
}

}  // namespace tarvex
