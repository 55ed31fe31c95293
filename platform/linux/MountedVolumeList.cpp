#include "platform/linux/MountedVolumeList.h"

#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "platform/linux/UdevHandles.h"

namespace tarvex {

namespace {

// mountinfo fields before the optional ones: mount ID, parent ID, major:minor, root, mount
// point, mount options.
constexpr std::size_t kFixedFieldCount = 6;

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t blank = line.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        if (end > start) {
            fields.push_back(line.substr(start, end - start));
        }
        if (blank == std::string_view::npos) {
            break;
        }
        start = blank + 1;
    }
    return fields;
}

bool ParseMountInfoLine(std::string_view line, MountInfoEntry& entry) {
    const auto fields = SplitFields(line);
    if (fields.size() < kFixedFieldCount + 3) {
        return false;
    }
    const auto separator = std::find(fields.begin() + kFixedFieldCount, fields.end(), "-");
    if (separator == fields.end() || fields.end() - separator < 3) {
        return false;
    }
    const std::string_view deviceNumber = fields[2];
    const std::size_t colon = deviceNumber.find(':');
    if (colon == std::string_view::npos || !ParseNumber(fields[0], entry.MountId) ||
        !ParseNumber(fields[1], entry.ParentId) ||
        !ParseNumber(deviceNumber.substr(0, colon), entry.Major) ||
        !ParseNumber(deviceNumber.substr(colon + 1), entry.Minor)) {
        return false;
    }
    entry.Root = UnescapeMountField(fields[3]);
    entry.MountPoint = UnescapeMountField(fields[4]);
    entry.FileSystemType = UnescapeMountField(*(separator + 1));
    entry.Source = UnescapeMountField(*(separator + 2));
    return true;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    // Files under /proc report size 0, so the content is read to its end rather than by size.
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::uint64_t VolumeCapacity(const MountInfoEntry& entry) {
    if (!CouldBeDeviceVolume(entry)) {
        return 0;
    }
    struct statvfs status {};
    if (::statvfs(entry.MountPoint.c_str(), &status) != 0) {
        return 0;
    }
    return CapacityFromBlocks(status.f_blocks, status.f_frsize);
}

// The syspath of the USB device (not one of its interfaces) above the block device, which is
// the form the USB device list reports; empty when the block device is not on USB.
std::string OwningUsbDevice(udev* context, const MountInfoEntry& entry) {
    if (context == nullptr || entry.Major == 0) {
        return {};
    }
    const UdevDevicePtr block(
        udev_device_new_from_devnum(context, 'b', makedev(entry.Major, entry.Minor)));
    if (!block) {
        return {};
    }
    // The parent is owned by `block` and goes with it.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(block.get(), "usb", "usb_device");
    const char* syspath = usb != nullptr ? udev_device_get_syspath(usb) : nullptr;
    return syspath != nullptr ? syspath : std::string();
}

}  // namespace

std::uint64_t FileSystemIdOf(const MountInfoEntry& mount) {
    return static_cast<std::uint64_t>(makedev(mount.Major, mount.Minor));
}

std::string UnescapeMountField(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
            IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= std::numeric_limits<unsigned char>::max()) {
                text.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        text.push_back(field[i]);
    }
    return text;
}

std::vector<MountInfoEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountInfoEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        MountInfoEntry entry;
        if (ParseMountInfoLine(text.substr(start, end - start), entry)) {
            entries.push_back(std::move(entry));
        }
        start = end + 1;
    }
    return entries;
}

std::vector<MountInfoEntry> VisibleMountsByMountPoint(std::vector<MountInfoEntry> entries) {
    // Stable, so that mounts on one path keep the table's order for the tie-break below.
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.MountPoint.native() < b.MountPoint.native();
    });
    std::vector<MountInfoEntry> visible;
    for (auto first = entries.begin(); first != entries.end();) {
        const auto last = std::find_if(first, entries.end(), [&](const auto& e) {
            return e.MountPoint.native() != first->MountPoint.native();
        });
        // The top mount is the one no other mount on the same path names as its parent. Should
        // the table not make that clear, the one listed last was mounted last.
        auto top = std::prev(last);
        for (auto candidate = first; candidate != last; ++candidate) {
            const bool covered = std::any_of(first, last, [&](const auto& other) {
                return &other != &*candidate && other.ParentId == candidate->MountId;
            });
            if (!covered) {
                top = candidate;
            }
        }
        visible.push_back(std::move(*top));
        first = last;
    }
    return visible;
}

bool CouldBeDeviceVolume(const MountInfoEntry& mount) {
    static constexpr std::string_view kFatFamily[] = {"vfat", "msdos", "exfat"};
    return mount.Major != 0 && mount.Root == "/" &&
           std::find(std::begin(kFatFamily), std::end(kFatFamily), mount.FileSystemType) !=
               std::end(kFatFamily);
}

std::uint64_t CapacityFromBlocks(std::uint64_t blocks, std::uint64_t fragmentSize) {
    std::uint64_t capacity = 0;
    if (__builtin_mul_overflow(blocks, fragmentSize, &capacity)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return capacity;
}

CMountedVolumeList::CMountedVolumeList(std::filesystem::path mountInfoPath)
    : m_MountInfoPath(std::move(mountInfoPath)) {}

std::vector<VolumeInfo> CMountedVolumeList::ListVolumes() {
    const auto mounts = VisibleMountsByMountPoint(ParseMountInfo(ReadWholeFile(m_MountInfoPath)));
    // Without udev (a container without /sys, for one) volumes are still listed, only without
    // their USB device.
    const UdevContextPtr context(udev_new());
    std::vector<VolumeInfo> volumes;
    volumes.reserve(mounts.size());
    for (const auto& mount : mounts) {
        volumes.push_back(VolumeInfo{mount.MountPoint, mount.Source, VolumeCapacity(mount),
                                     OwningUsbDevice(context.get(), mount), FileSystemIdOf(mount)});
    }
    return volumes;
}

bool CMountedVolumeList::CanFindVolumesOf(const std::string& usbDeviceSystemPath) {
    if (usbDeviceSystemPath.empty()) {
        return false;
    }
    const UdevContextPtr context(udev_new());
    if (!context) {
        return false;
    }
    const UdevDevicePtr device(
        udev_device_new_from_syspath(context.get(), usbDeviceSystemPath.c_str()));
    if (!device) {
        return false;
    }
    const char* subsystem = udev_device_get_subsystem(device.get());
    const char* type = udev_device_get_devtype(device.get());
    return subsystem != nullptr && type != nullptr && std::string_view(subsystem) == "usb" &&
           std::string_view(type) == "usb_device";
}

}  // namespace tarvex
