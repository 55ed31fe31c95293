#pragma once
// Command line of tarvex-update-demo: the window over the built-in virtual device, whose
// behaviour the options set (the same options and values as tarvex-virtual-device's).

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/VirtualDeviceOptions.h"

namespace tarvex {

struct DemoOptions {
    bool Help = false;
    bool DriveMode = false;   // a drive-mode device instead of the HID update device
    bool Unplugged = false;   // no device attached at all
    bool Busy = false;        // another program holds the device's lock
    bool OpenDenied = false;  // the update device cannot be opened for lack of permission
    sim::VirtualDeviceOptions Device;
};

struct DemoParseResult {
    std::optional<DemoOptions> Options;
    std::string Error;  // names the problem when Options is empty
};

DemoParseResult ParseDemoArguments(std::span<const std::string_view> arguments);
std::string DemoUsage();

}  // namespace tarvex
