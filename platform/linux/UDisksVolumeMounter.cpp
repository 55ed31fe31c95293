#include "platform/linux/UDisksVolumeMounter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/linux/SdBusHandles.h"
#include "platform/linux/UdevHandles.h"

namespace tarvex {
namespace {

constexpr const char* kUDisksService = "org.freedesktop.UDisks2";
constexpr const char* kUDisksManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kUDisksManager = "org.freedesktop.UDisks2.Manager";
constexpr const char* kUDisksBlock = "org.freedesktop.UDisks2.Block";
constexpr const char* kUDisksFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kNoUserInteraction = "auth.no_user_interaction";
constexpr std::string_view kNotMounted = "org.freedesktop.UDisks2.Error.NotMounted";

std::string SystemWords(const char* what, int negativeErrno) {
    return std::string(what) + ": " + std::strerror(-negativeErrno);
}

std::uint64_t Microseconds(std::chrono::microseconds length) {
    return static_cast<std::uint64_t>(length.count());
}

// The connection, or empty with `message` saying why there is none.
SdBusPtr OpenBus(const std::string& address, std::string& message) {
    sd_bus* raw = nullptr;
    int result = 0;
    if (address.empty()) {
        result = sd_bus_open_system(&raw);
        if (result < 0) {
            message = SystemWords("system bus", result);
            return {};
        }
        return SdBusPtr(raw);
    }
    result = sd_bus_new(&raw);
    if (result < 0) {
        message = SystemWords("bus", result);
        return {};
    }
    SdBusPtr bus(raw);
    if ((result = sd_bus_set_address(raw, address.c_str())) < 0 ||
        (result = sd_bus_set_bus_client(raw, 1)) < 0 || (result = sd_bus_start(raw)) < 0) {
        message = SystemWords(address.c_str(), result);
        return {};
    }
    return bus;
}

VolumeMountResult FailedCall(const CSdBusError& error, int result, const char* what) {
    if (error.Set()) {
        return {VolumeMountErrorFromBusError(error.Name()),
                std::string(error.Name()) + ": " + error.Message(),
                {}};
    }
    return {VolumeMountError::Failed, SystemWords(what, result), {}};
}

// The objects UDisks2 has for the device node `devicePath` (none while it has not taken the
// block device in).
std::vector<std::string> ResolveDevice(sd_bus* bus, const std::string& devicePath,
                                       VolumeMountResult& failure) {
    sd_bus_message* rawCall = nullptr;
    int result = sd_bus_message_new_method_call(bus, &rawCall, kUDisksService, kUDisksManagerPath,
                                                kUDisksManager, "ResolveDevice");
    const SdBusMessagePtr call(rawCall);
    if (result >= 0) {
        result = sd_bus_message_append(rawCall, "a{sv}", 1, "path", "s", devicePath.c_str());
    }
    if (result >= 0) {
        result = sd_bus_message_append(rawCall, "a{sv}", 0);
    }
    if (result < 0) {
        failure = {VolumeMountError::Failed, SystemWords("ResolveDevice call", result), {}};
        return {};
    }
    CSdBusError error;
    sd_bus_message* rawReply = nullptr;
    result = sd_bus_call(bus, rawCall, Microseconds(kUDisksCallTimeout), error.Get(), &rawReply);
    const SdBusMessagePtr reply(rawReply);
    if (result < 0) {
        failure = FailedCall(error, result, "ResolveDevice");
        return {};
    }
    std::vector<std::string> objects;
    if (sd_bus_message_enter_container(rawReply, 'a', "o") < 0) {
        return objects;
    }
    const char* object = nullptr;
    while (sd_bus_message_read(rawReply, "o", &object) > 0) {
        objects.emplace_back(object);
    }
    sd_bus_message_exit_container(rawReply);
    return objects;
}

// Each entry of an "aay" of NUL-terminated byte strings, as UDisks2 gives paths.
std::vector<std::filesystem::path> ReadByteStrings(sd_bus_message* message) {
    std::vector<std::filesystem::path> paths;
    if (sd_bus_message_enter_container(message, 'a', "ay") < 0) {
        return paths;
    }
    while (sd_bus_message_at_end(message, 0) == 0) {
        const void* bytes = nullptr;
        std::size_t size = 0;
        if (sd_bus_message_read_array(message, 'y', &bytes, &size) < 0) {
            break;
        }
        std::string text(static_cast<const char*>(bytes), size);
        text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
        paths.emplace_back(text);
    }
    sd_bus_message_exit_container(message);
    return paths;
}

// Fills in what UDisks2 says of `volume.Id`; false when the object carries no file system.
bool ReadVolume(sd_bus* bus, MountableVolume& volume) {
    const char* path = volume.Id.c_str();
    CSdBusError mountPointsError;
    sd_bus_message* rawReply = nullptr;
    if (sd_bus_get_property(bus, kUDisksService, path, kUDisksFilesystem, "MountPoints",
                            mountPointsError.Get(), &rawReply, "aay") < 0) {
        return false;  // no Filesystem interface: a partition table, swap, nothing known
    }
    const SdBusMessagePtr reply(rawReply);
    volume.MountPoints = ReadByteStrings(rawReply);

    CSdBusError typeError;
    char* type = nullptr;
    if (sd_bus_get_property_string(bus, kUDisksService, path, kUDisksBlock, "IdType",
                                   typeError.Get(), &type) >= 0 &&
        type != nullptr) {
        volume.FileSystemType = type;
    }
    std::free(type);
    CSdBusError sizeError;
    std::uint64_t size = 0;
    if (sd_bus_get_property_trivial(bus, kUDisksService, path, kUDisksBlock, "Size",
                                    sizeError.Get(), 't', &size) >= 0) {
        volume.SizeBytes = size;
    }
    return true;
}

// The device nodes of the block devices below the USB device, in byte order.
std::vector<std::string> BlockDeviceNodesOf(const std::string& usbDeviceSystemPath) {
    std::vector<std::string> nodes;
    const UdevContextPtr context(udev_new());
    if (!context) {
        return nodes;
    }
    const UdevDevicePtr usb(
        udev_device_new_from_syspath(context.get(), usbDeviceSystemPath.c_str()));
    const UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!usb || !enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "block") < 0 ||
        udev_enumerate_add_match_parent(enumerate.get(), usb.get()) < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return nodes;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevDevicePtr block(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        const char* node = block ? udev_device_get_devnode(block.get()) : nullptr;
        if (node != nullptr) {
            nodes.emplace_back(node);
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

// Filesystem.Mount or Filesystem.Unmount on `volumeId`.
VolumeMountResult CallFilesystem(const std::string& busAddress, const std::string& volumeId,
                                 const char* method, bool allowAuthentication) {
    VolumeMountResult outcome;
    const SdBusPtr bus = OpenBus(busAddress, outcome.Message);
    if (!bus) {
        outcome.Error = VolumeMountError::NoService;
        return outcome;
    }
    sd_bus_message* rawCall = nullptr;
    int result = sd_bus_message_new_method_call(bus.get(), &rawCall, kUDisksService,
                                                volumeId.c_str(), kUDisksFilesystem, method);
    const SdBusMessagePtr call(rawCall);
    if (result >= 0) {
        result = allowAuthentication
                     ? sd_bus_message_append(rawCall, "a{sv}", 0)
                     : sd_bus_message_append(rawCall, "a{sv}", 1, kNoUserInteraction, "b", 1);
    }
    if (result >= 0 && allowAuthentication) {
        result = sd_bus_message_set_allow_interactive_authorization(rawCall, 1);
    }
    if (result < 0) {
        return {VolumeMountError::Failed, SystemWords(method, result), {}};
    }
    CSdBusError error;
    sd_bus_message* rawReply = nullptr;
    const std::chrono::microseconds timeout =
        allowAuthentication ? std::chrono::microseconds(kUDisksAuthenticationTimeout)
                            : std::chrono::microseconds(kUDisksCallTimeout);
    result = sd_bus_call(bus.get(), rawCall, Microseconds(timeout), error.Get(), &rawReply);
    const SdBusMessagePtr reply(rawReply);
    if (result < 0) {
        return FailedCall(error, result, method);
    }
    const char* mountPoint = nullptr;
    if (std::strcmp(method, "Mount") == 0 && sd_bus_message_read(rawReply, "s", &mountPoint) > 0) {
        outcome.MountPoint = mountPoint;
    }
    return outcome;
}

}  // namespace

VolumeMountError VolumeMountErrorFromBusError(std::string_view errorName) {
    static constexpr std::pair<std::string_view, VolumeMountError> kMeanings[] = {
        {"org.freedesktop.UDisks2.Error.NotAuthorized", VolumeMountError::NotAuthorized},
        {"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed", VolumeMountError::NotAuthorized},
        {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
         VolumeMountError::NeedsAuthentication},
        {"org.freedesktop.DBus.Error.AccessDenied", VolumeMountError::NotAuthorized},
        {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
         VolumeMountError::NeedsAuthentication},
        {"org.freedesktop.UDisks2.Error.AlreadyMounted", VolumeMountError::AlreadyMounted},
        {"org.freedesktop.DBus.Error.ServiceUnknown", VolumeMountError::NoService},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", VolumeMountError::NoService},
        // The object went with its block device.
        {"org.freedesktop.DBus.Error.UnknownObject", VolumeMountError::NoSuchVolume},
        {"org.freedesktop.DBus.Error.UnknownInterface", VolumeMountError::NoSuchVolume},
        {"org.freedesktop.DBus.Error.UnknownMethod", VolumeMountError::NoSuchVolume},
    };
    for (const auto& [name, meaning] : kMeanings) {
        if (name == errorName) {
            return meaning;
        }
    }
    return VolumeMountError::Failed;
}

CUDisksVolumeMounter::CUDisksVolumeMounter(std::string busAddress)
    : m_BusAddress(std::move(busAddress)) {}

VolumesOfDevice CUDisksVolumeMounter::ListVolumesOf(const std::string& usbDeviceSystemPath) {
    VolumesOfDevice listed;
    const SdBusPtr bus = OpenBus(m_BusAddress, listed.Message);
    if (!bus) {
        listed.Error = VolumeMountError::NoService;
        return listed;
    }
    for (const auto& node : BlockDeviceNodesOf(usbDeviceSystemPath)) {
        VolumeMountResult failure;
        for (auto& object : ResolveDevice(bus.get(), node, failure)) {
            MountableVolume volume{std::move(object), node, usbDeviceSystemPath, {}, 0, {}};
            if (ReadVolume(bus.get(), volume)) {
                listed.Volumes.push_back(std::move(volume));
            }
        }
        // Without the service nothing else will answer either.
        if (failure.Error == VolumeMountError::NoService) {
            return {{}, failure.Error, failure.Message};
        }
    }
    return listed;
}

VolumeMountResult CUDisksVolumeMounter::Mount(const std::string& volumeId,
                                              bool allowAuthentication) {
    return CallFilesystem(m_BusAddress, volumeId, "Mount", allowAuthentication);
}

VolumeMountResult CUDisksVolumeMounter::Unmount(const std::string& volumeId) {
    VolumeMountResult outcome = CallFilesystem(m_BusAddress, volumeId, "Unmount", false);
    // Somebody unmounted it first: the system is as it was found all the same.
    if (outcome.Message.starts_with(kNotMounted)) {
        return {};
    }
    return outcome;
}

}  // namespace tarvex
