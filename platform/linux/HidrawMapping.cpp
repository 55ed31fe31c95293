#include "platform/linux/HidrawMapping.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace tarvex {

namespace {

// Errors the kernel gives for I/O on a device that was disconnected under an open handle.
bool MeansDisconnected(int error) {
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN;
}

bool IsHidrawName(std::string_view name) {
    constexpr std::string_view kPrefix = "hidraw";
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) {
        return false;
    }
    for (const char c : name.substr(kPrefix.size())) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

HidOpenError OpenErrorFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return HidOpenError::PermissionDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return HidOpenError::NotFound;
        case EBUSY:
            return HidOpenError::Busy;
        default:
            return HidOpenError::Other;
    }
}

HidIoStatus ReadFailureStatus(int error, bool bNodePresent) {
    if (error == EINTR) {
        return HidIoStatus::TimedOut;
    }
    // hidraw answers a read on an unplugged device with EIO.
    if (error == 0 || error == EIO || MeansDisconnected(error) || !bNodePresent) {
        return HidIoStatus::DeviceGone;
    }
    return HidIoStatus::Failed;
}

HidIoStatus WriteFailureStatus(int error, bool bNodePresent) {
    if (MeansDisconnected(error) || !bNodePresent) {
        return HidIoStatus::DeviceGone;
    }
    return HidIoStatus::Failed;
}

std::optional<unsigned> CharacterDeviceMajor(std::string_view procDevices,
                                             std::string_view driver) {
    // "Character devices:" then lines "%3d %s", an empty line, then "Block devices:".
    bool inCharacterSection = false;
    while (!procDevices.empty()) {
        const std::size_t end = procDevices.find('\n');
        std::string_view line = procDevices.substr(0, end);
        procDevices.remove_prefix(end == std::string_view::npos ? procDevices.size() : end + 1);
        if (line.ends_with(':')) {
            inCharacterSection = line == "Character devices:";
            continue;
        }
        if (!inCharacterSection) {
            continue;
        }
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos || line.substr(space + 1) != driver) {
            continue;
        }
        unsigned number = 0;
        const auto digits = line.substr(0, space);
        const auto [last, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc() && last == digits.data() + digits.size()) {
            return number;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> ReportDescriptorPathFor(std::string_view devicePath) {
    constexpr std::string_view kDeviceFolder = "/dev/";
    if (!devicePath.starts_with(kDeviceFolder)) {
        return std::nullopt;
    }
    const std::string_view name = devicePath.substr(kDeviceFolder.size());
    if (!IsHidrawName(name)) {
        return std::nullopt;
    }
    return std::filesystem::path("/sys/class/hidraw") / std::string(name) / "device" /
           "report_descriptor";
}

}  // namespace tarvex
