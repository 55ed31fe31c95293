#pragma once
// What a user can do about an update device that this system refused to open for lack of
// permission (HidOpenError::PermissionDenied). The systems differ, and so does the notice that
// tells the user: the front ends show the text of this system's remedy.
// Linux: platform/linux/HidAccessRemedy.cpp; Windows: platform/windows/HidAccessRemedy.cpp.

namespace tarvex {

enum class HidAccessRemedy {
    // The device node's owner and mode come from a udev rule: install the rule, replug.
    InstallDeviceRule,
    // Every user may open a HID device; a refusal comes from a tool that hides the device from
    // other programs (controller and button-mapping tools): close it, replug.
    CloseProgramsHoldingIt,
};

// This system's remedy, fixed by the backend the build links. Any thread.
HidAccessRemedy SystemHidAccessRemedy();

}  // namespace tarvex
