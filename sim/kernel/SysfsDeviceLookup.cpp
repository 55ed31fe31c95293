#include "sim/kernel/SysfsDeviceLookup.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

#include "platform/linux/ScopedFd.h"

namespace tarvex {

namespace {

std::string TrimmedLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string ReadSysfsFile(const std::filesystem::path& path) {
    CScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return {};
    }
    // sysfs hands out a whole attribute in one read; a page is the most it ever holds.
    std::string text(4096, '\0');
    const ssize_t got = ::read(fd.Get(), text.data(), text.size());
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

std::string UeventValue(std::string_view uevent, std::string_view key) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string_view::npos) {
            end = uevent.size();
        }
        const std::string_view line = uevent.substr(start, end - start);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            return std::string(line.substr(key.size() + 1));
        }
        start = end + 1;
    }
    return {};
}

std::string FindHidrawNodeByUniq(std::string_view uniq, const std::filesystem::path& sysfsRoot) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(sysfsRoot / "class/hidraw", error)) {
        // The hidraw entry's "device" is the HID device, whose uevent carries HID_UNIQ.
        const std::string uevent = ReadSysfsFile(entry.path() / "device/uevent");
        if (!uniq.empty() && UeventValue(uevent, "HID_UNIQ") == uniq) {
            return "/dev/" + entry.path().filename().string();
        }
    }
    return {};
}

std::string FindBlockNodeByUsbSerial(std::string_view serial,
                                     const std::filesystem::path& sysfsRoot) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(sysfsRoot / "class/block", error)) {
        if (std::filesystem::exists(entry.path() / "partition", error)) {
            continue;
        }
        // Up the parent chain to the USB device (the folder with idVendor), whose serial says
        // whether this disk is the one.
        std::filesystem::path folder = std::filesystem::canonical(entry.path(), error);
        if (error) {
            continue;
        }
        for (; folder.has_relative_path() && folder != sysfsRoot; folder = folder.parent_path()) {
            if (std::filesystem::exists(folder / "idVendor", error)) {
                if (TrimmedLine(ReadSysfsFile(folder / "serial")) == serial) {
                    return "/dev/" + entry.path().filename().string();
                }
                break;
            }
        }
    }
    return {};
}

}  // namespace tarvex
