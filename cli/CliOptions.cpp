#include "cli/CliOptions.h"

#include <charconv>

#include "ProgramVersion.h"
#include "platform/Terminal.h"

namespace tarvex {

namespace {

// A whole number of seconds from 1 to a day.
std::optional<std::chrono::seconds> ParseWaitSeconds(std::string_view text) {
    constexpr unsigned kLongestWait = 24 * 60 * 60;
    unsigned seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds == 0 ||
        seconds > kLongestWait) {
        return std::nullopt;
    }
    return std::chrono::seconds(seconds);
}

}  // namespace

std::string CliUsage() {
    return "Usage: tarvex-update-cli [--virtual[=hid|drive]] [--device=NODE|SERIAL]\n"
           "                         [--wait[=SECONDS]] [--yes] [--trace] [--mount-auth] [--json]\n"
           "                         IMAGE.dat\n"
           "       tarvex-update-cli [--virtual[=hid|drive]] [--device=NODE|SERIAL] --list\n"
           "                         [--json]\n"
           "       tarvex-update-cli --history [--json]\n"
           "\n"
           "Updates the firmware of one attached USB game controller or receiver in update mode\n"
           "with IMAGE.dat. With several attached, it lists them and sends nothing unless\n"
           "--device picks one.\n"
           "\n"
           "Options:\n"
           "  --list            print the attached updatable devices, one per line, and exit:\n"
           "                    KIND VENDOR:PRODUCT NODE serial=SERIAL\n"
           "  --device=NODE|SERIAL\n"
           "                    update (or list) only the device with that node or serial\n"
           "                    number, as --list shows them\n"
           "  --virtual[=hid]   use the built-in virtual HID update device (firmware V1.05)\n"
           "                    instead of looking for hardware\n"
           "  --virtual=drive   attach a virtual drive-mode device (product 0x6A01)\n"
           "  --wait[=SECONDS]  when no updatable device is attached, wait for one to be plugged\n"
           "                    in (at most SECONDS), then update it\n"
           "  --yes             answer OK to the firmware version question\n"
           "                    (without a terminal and without --yes it is declined)\n"
           "  --trace           print every HID report sent (>) and received (<) on standard\n"
           "                    error, as 64 hexadecimal bytes, report ID first\n"
           "  --mount-auth      let the system ask for a password when it mounts a drive-mode\n"
           "                    device's volume that nothing else has mounted (without it, a\n"
           "                    mount that needs one is refused and nothing is written)\n"
           "  --history         print the history of runs, oldest first, one line each, and exit\n"
           "  --json            with an update: print one JSON object on standard output at the\n"
           "                    end (outcome, reason, device, image, versions, exit status);\n"
           "                    with --list: print the devices as a JSON array; with --history:\n"
           "                    print the records as a JSON array\n"
           "  --help            show this help\n"
           "  --version         print the program's version and exit\n"
           "\n"
           "Exit status: 0 success; 1 the update failed; 2 bad usage, an image refused or several\n"
           "devices to choose from, before anything was sent; 3 cancelled by the user.\n";
}

std::string CliVersionText() {
    return std::string("tarvex-update-cli ") + TARVEX_VERSION_TEXT + "\n";
}

CliParseResult ParseCliArguments(std::span<const std::string_view> arguments) {
    CliOptions options;
    bool haveImage = false;
    bool optionsEnded = false;
    for (const std::string_view argument : arguments) {
        if (!optionsEnded && argument.starts_with("-")) {
            if (argument == "--") {
                optionsEnded = true;
            } else if (argument == "--help" || argument == "-h") {
                options.Help = true;
            } else if (argument == "--version") {
                options.Version = true;
            } else if (argument == "--list") {
                options.List = true;
            } else if (argument == "--yes" || argument == "-y") {
                options.AssumeYes = true;
            } else if (argument == "--history") {
                options.History = true;
            } else if (argument == "--json") {
                options.Json = true;
            } else if (argument == "--trace") {
                options.Trace = true;
            } else if (argument == "--mount-auth") {
                options.MountAuthentication = true;
            } else if (argument == "--wait") {
                options.Wait = true;
            } else if (argument.starts_with("--wait=")) {
                const auto seconds = ParseWaitSeconds(argument.substr(7));
                if (!seconds) {
                    return {std::nullopt, "bad wait time '" + std::string(argument.substr(7)) +
                                              "' (use --wait=SECONDS, from 1 to 86400)"};
                }
                options.Wait = true;
                options.WaitLimit = *seconds;
            } else if (argument.starts_with("--device=")) {
                options.Device = std::string(argument.substr(9));
                if (options.Device.empty()) {
                    return {std::nullopt, "--device needs a node or a serial number"};
                }
            } else if (argument == "--virtual" || argument == "--virtual=hid") {
                options.Virtual = VirtualDeviceKind::Hid;
            } else if (argument == "--virtual=drive") {
                options.Virtual = VirtualDeviceKind::Drive;
            } else if (argument.starts_with("--virtual=")) {
                return {std::nullopt, "unknown virtual device '" +
                                          std::string(argument.substr(10)) +
                                          "' (use --virtual=hid or --virtual=drive)"};
            } else {
                return {std::nullopt, "unknown option '" + std::string(argument) + "'"};
            }
            continue;
        }
        if (haveImage) {
            return {std::nullopt, "more than one image given ('" + std::string(argument) + "')"};
        }
        options.ImagePath = PathFromArgument(argument);
        haveImage = true;
    }
    if (options.Help || options.Version) {
        return {options, {}};
    }
    if (options.History) {
        if (haveImage || options.List || options.Wait || !options.Device.empty() ||
            options.Virtual != VirtualDeviceKind::None) {
            return {std::nullopt, "--history goes alone (or with --json)"};
        }
        return {options, {}};
    }
    if (options.List) {
        if (haveImage) {
            return {std::nullopt, "--list takes no image"};
        }
        if (options.Wait) {
            return {std::nullopt, "--wait goes with an update, not with --list"};
        }
        return {options, {}};
    }
    if (!haveImage) {
        return {std::nullopt, "no firmware image given"};
    }
    return {options, {}};
}

}  // namespace tarvex
