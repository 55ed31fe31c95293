#pragma once
// Command line of tarvex-update-demo: the window over the built-in virtual device, whose
// behaviour the options set (the same options and values as tarvex-virtual-device's).

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/VirtualDeviceOptions.h"

namespace tarvex {

// Where a drive-mode run finds the device's volume.
enum class DemoVolume {
    System,  // the real mounted volumes: a copy lands on whatever volume has the device's size
    Late,    // the device's own volume, kept in memory, mounted VolumeDelay after the run looks
    Never,   // the device's own volume never comes
    Untied,  // two drive-mode devices and a volume of their size tied to neither
};

struct DemoOptions {
    bool Help = false;
    bool DriveMode = false;   // a drive-mode device instead of the HID update device
    bool Unplugged = false;   // no device attached at all
    bool Busy = false;        // another program holds the device's lock
    bool OpenDenied = false;  // the update device cannot be opened for lack of permission
    DemoVolume Volume = DemoVolume::System;
    std::chrono::seconds VolumeDelay{0};
    // How long a run waits for the device's volume; empty: the engine's own limit.
    std::optional<std::chrono::seconds> VolumeWait;
    sim::VirtualDeviceOptions Device;
};

struct DemoParseResult {
    std::optional<DemoOptions> Options;
    std::string Error;  // names the problem when Options is empty
};

DemoParseResult ParseDemoArguments(std::span<const std::string_view> arguments);
std::string DemoUsage();

}  // namespace tarvex
