#include "sim/VirtualDeviceOptions.h"

#include <charconv>

#include "hid/DeviceIdentity.h"

namespace tarvex::sim {

namespace {

// Decimal, or hexadecimal after 0x.
template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

struct FaultOption {
    std::string_view Name;
    PacketFault Fault;
};
constexpr FaultOption kFaultOptions[] = {
    {"--fail-at=", PacketFault::FailureReply},        {"--silence-at=", PacketFault::Silence},
    {"--disappear-at=", PacketFault::Disappear},      {"--repeat-ack-at=", PacketFault::RepeatAck},
    {"--memory-reply-at=", PacketFault::MemoryReply},
};

// N, or N:CODE for a failure reply with its own code.
std::optional<FaultAtPacket> ParseFault(std::string_view value, PacketFault fault) {
    FaultAtPacket parsed{0, fault, kReplyCodeFailure};
    const auto colon = value.find(':');
    if (colon != std::string_view::npos) {
        const auto code = ParseNumber<std::uint8_t>(value.substr(colon + 1));
        if (!code || fault != PacketFault::FailureReply) {
            return std::nullopt;
        }
        parsed.FailureCode = *code;
        value = value.substr(0, colon);
    }
    const auto number = ParseNumber<std::size_t>(value);
    if (!number) {
        return std::nullopt;
    }
    parsed.PacketNumber = *number;
    return parsed;
}

std::string Bad(std::string_view argument) {
    return "bad value in '" + std::string(argument) + "'";
}

}  // namespace

std::string VirtualDeviceBehaviourUsage() {
    return "  --version=N               firmware version the device reports (default 105, V1.05)\n"
           "  --latency=MS              delay every reply by MS milliseconds\n"
           "  --silent                  answer nothing at all\n"
           "  --fail-at=N[:CODE]        answer packet N with a failure reply (code 0x15)\n"
           "  --silence-at=N            leave packet N unanswered\n"
           "  --disappear-at=N          unplug the device when packet N arrives\n"
           "  --repeat-ack-at=N         acknowledge packet N twice\n"
           "  --memory-reply-at=N       answer packet N with the memory reply\n"
           "                            (packet 0 is the update request, 1 the image header,\n"
           "                            2 + k data packet k)\n";
}

std::string VirtualDeviceUsage() {
    return "Usage: tarvex-virtual-device [--uhid | --gadget] [OPTIONS]\n"
           "       tarvex-virtual-device --drive=IMAGE [OPTIONS]\n"
           "\n"
           "Serves the virtual update device to this machine's kernel, so that programs find it\n"
           "as a real HID device: through /dev/uhid (--uhid, the default) or as a USB gadget with\n"
           "a HID function on a USB device controller (--gadget, needs configfs and dummy_hcd).\n"
           "--drive makes a drive-mode device instead: a mass-storage gadget backed by IMAGE.\n"
           "Runs until SIGTERM or SIGINT (SIGUSR1 unplugs the device and ends the program).\n"
           "\n"
           "Options:\n"
           "  --vendor=ID --product=ID  USB IDs (default 0x3A7E, and 0x6A11 or for --drive\n"
           "                            0x6A01); other IDs make a foreign device\n"
           "  --serial=TEXT             serial number / unique ID (default: from the process ID)\n"
           "  --udc=NAME                USB device controller for the gadgets (default: first "
           "free)\n" +
           VirtualDeviceBehaviourUsage() +
           "  --ready-file=FILE         write the host's device node to FILE once it exists\n"
           "  --payload-out=FILE        write the payload the device assembled to FILE at exit\n"
           "  --summary-out=FILE        write the device's counters (name=value) to FILE at exit\n"
           "  --lifetime=SECONDS        end by itself after SECONDS (default 600)\n"
           "\n"
           "Exit status: 0 ended normally or unplugged; 1 the device could not be made;\n"
           "2 bad usage.\n";
}

VirtualDeviceParseResult ParseVirtualDeviceArguments(std::span<const std::string_view> arguments) {
    VirtualDeviceOptions options;
    bool productGiven = false;
    for (const std::string_view argument : arguments) {
        const auto eq = argument.find('=');
        const std::string_view name =
            argument.substr(0, eq == std::string_view::npos ? argument.size() : eq + 1);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : argument.substr(eq + 1);
        if (argument == "--help" || argument == "-h") {
            options.Help = true;
        } else if (argument == "--uhid") {
            options.Transport = DeviceTransport::Uhid;
        } else if (argument == "--gadget") {
            options.Transport = DeviceTransport::Gadget;
        } else if (name == "--drive=") {
            options.Transport = DeviceTransport::Drive;
            options.DriveImage = std::string(value);
        } else if (name == "--vendor=" || name == "--product=") {
            const auto id = ParseNumber<std::uint16_t>(value);
            if (!id) {
                return {std::nullopt, Bad(argument)};
            }
            (name == "--vendor=" ? options.VendorId : options.ProductId) = *id;
            productGiven = productGiven || name == "--product=";
        } else if (name == "--serial=" && !value.empty()) {
            options.Serial = std::string(value);
        } else if (name == "--udc=" && !value.empty()) {
            options.Controller = std::string(value);
        } else if (name == "--version=") {
            const auto version = ParseNumber<std::uint32_t>(value);
            if (!version) {
                return {std::nullopt, Bad(argument)};
            }
            options.FirmwareVersion = *version;
        } else if (name == "--latency=") {
            const auto latency = ParseNumber<unsigned>(value);
            if (!latency) {
                return {std::nullopt, Bad(argument)};
            }
            options.ReplyLatency = std::chrono::milliseconds(*latency);
        } else if (argument == "--silent") {
            options.Silent = true;
        } else if (name == "--ready-file=" && !value.empty()) {
            options.ReadyFile = std::string(value);
        } else if (name == "--payload-out=" && !value.empty()) {
            options.PayloadOut = std::string(value);
        } else if (name == "--summary-out=" && !value.empty()) {
            options.SummaryOut = std::string(value);
        } else if (name == "--lifetime=") {
            const auto seconds = ParseNumber<unsigned>(value);
            if (!seconds || *seconds == 0) {
                return {std::nullopt, Bad(argument)};
            }
            options.Lifetime = std::chrono::seconds(*seconds);
        } else {
            const FaultOption* fault = nullptr;
            for (const auto& candidate : kFaultOptions) {
                fault = name == candidate.Name ? &candidate : fault;
            }
            if (fault == nullptr) {
                return {std::nullopt, "unknown option '" + std::string(argument) + "'"};
            }
            const auto parsed = ParseFault(value, fault->Fault);
            if (!parsed) {
                return {std::nullopt, Bad(argument)};
            }
            options.Faults.push_back(*parsed);
        }
    }
    if (options.Transport == DeviceTransport::Drive && options.DriveImage.empty()) {
        return {std::nullopt, "--drive needs the backing image (--drive=IMAGE)"};
    }
    if (!productGiven && options.Transport == DeviceTransport::Drive) {
        options.ProductId = kDriveModeProductIds[0];
    }
    return {options, {}};
}

}  // namespace tarvex::sim
