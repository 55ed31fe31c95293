#include "platform/HidAccessRemedy.h"

namespace tarvex {

// A HID device lets every user read and write it: no rule grants that, and an administrator's
// rights add nothing. Access is denied by a filter driver that hides the device from every
// program but its own, as controller and button-mapping tools install, while that tool holds
// it. (The system denies it for keyboards and mice too, which the update device is not; an
// open held by another program without sharing fails as busy instead.)
HidAccessRemedy SystemHidAccessRemedy() {
    return HidAccessRemedy::CloseProgramsHoldingIt;
}

}  // namespace tarvex
