#include "app/DemoOptions.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace tarvex {

namespace {

// The virtual device's options that mean something for a device inside this process; the
// others choose how a device is served to the kernel.
constexpr std::string_view kDeviceOptions[] = {
    "--latency=",    "--version=",      "--silent",         "--fail-at=",
    "--silence-at=", "--disappear-at=", "--repeat-ack-at=", "--memory-reply-at="};

bool IsDeviceOption(std::string_view argument) {
    return std::any_of(
        std::begin(kDeviceOptions), std::end(kDeviceOptions), [argument](std::string_view option) {
            return option.ends_with('=') ? argument.starts_with(option) : argument == option;
        });
}

// Whole seconds, 0 to a day.
std::optional<std::chrono::seconds> ParseSeconds(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
        value > 86'400) {
        return std::nullopt;
    }
    return std::chrono::seconds(value);
}

}  // namespace

std::string DemoUsage() {
    return "Usage: tarvex-update-demo [OPTIONS]\n"
           "\n"
           "Opens the updater's window on the built-in virtual device: the HID update device\n"
           "(V1.05) by default, or a drive-mode device with --drive (its update copies onto a\n"
           "real mounted volume of 104 KiB, as the updater does).\n"
           "\n"
           "Options:\n"
           "  --drive                   a drive-mode device instead of the HID update device\n"
           "  --unplugged               no device attached\n"
           "  --busy                    another program holds the device's lock\n"
           "  --open-denied             the update device refuses to open (no permission)\n"
           "  --volume-late=SECONDS     drive mode, with the device's own volume kept in memory:\n"
           "                            mounted SECONDS after the run first looks for it\n"
           "  --volume-never            drive mode: the device's own volume never comes\n"
           "  --volume-untied           drive mode: two devices and a volume of their size that\n"
           "                            the system cannot tie to either\n"
           "  --volume-wait=SECONDS     how long a drive-mode run waits for the volume (30)\n" +
           sim::VirtualDeviceBehaviourUsage();
}

DemoParseResult ParseDemoArguments(std::span<const std::string_view> arguments) {
    DemoOptions options;
    std::vector<std::string_view> deviceArguments;
    for (const std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.Help = true;
        } else if (argument == "--drive") {
            options.DriveMode = true;
        } else if (argument == "--unplugged") {
            options.Unplugged = true;
        } else if (argument == "--busy") {
            options.Busy = true;
        } else if (argument == "--open-denied") {
            options.OpenDenied = true;
        } else if (argument.starts_with("--volume-late=")) {
            const auto delay = ParseSeconds(argument.substr(argument.find('=') + 1));
            if (!delay) {
                return {std::nullopt, "bad value in '" + std::string(argument) + "'"};
            }
            options.DriveMode = true;
            options.Volume = DemoVolume::Late;
            options.VolumeDelay = *delay;
        } else if (argument == "--volume-never" || argument == "--volume-untied") {
            options.DriveMode = true;
            options.Volume = argument == "--volume-never" ? DemoVolume::Never : DemoVolume::Untied;
        } else if (argument.starts_with("--volume-wait=")) {
            options.VolumeWait = ParseSeconds(argument.substr(argument.find('=') + 1));
            if (!options.VolumeWait) {
                return {std::nullopt, "bad value in '" + std::string(argument) + "'"};
            }
        } else if (IsDeviceOption(argument)) {
            deviceArguments.push_back(argument);
        } else {
            return {std::nullopt, "unknown option '" + std::string(argument) + "'"};
        }
    }
    const sim::VirtualDeviceParseResult device = sim::ParseVirtualDeviceArguments(deviceArguments);
    if (!device.Options) {
        return {std::nullopt, device.Error};
    }
    options.Device = *device.Options;
    return {options, {}};
}

}  // namespace tarvex
