#pragma once
// Volumes mounted through UDisks2 over the system D-Bus (sd-bus), as a desktop's file manager
// mounts them: Filesystem.Mount with the caller's authority, which polkit's rules for removable
// media grant the active session's user without a password. The block devices of a USB device
// come from libudev; UDisks2 names the object of each (Manager.ResolveDevice) and tells its file
// system, size and mount points.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/VolumeMounter.h"

namespace tarvex {

// A mount takes the daemon a moment (it probes, makes the folder, runs mount); with the user
// asked for a password it takes as long as the user does.
inline constexpr std::chrono::seconds kUDisksCallTimeout{30};
inline constexpr std::chrono::minutes kUDisksAuthenticationTimeout{5};

// What a D-Bus error name from UDisks2 or the bus means for a mount or unmount. Pure.
VolumeMountError VolumeMountErrorFromBusError(std::string_view errorName);

class CUDisksVolumeMounter final : public CVolumeMounter {
public:
    // Asks the system bus; with `busAddress` (a D-Bus address such as unix:path=/run/x/bus),
    // that bus instead.
    explicit CUDisksVolumeMounter(std::string busAddress = {});

    // Each call opens its own connection and closes it before returning.
    VolumesOfDevice ListVolumesOf(const std::string& usbDeviceSystemPath) override;
    VolumeMountResult Mount(const std::string& volumeId, bool allowAuthentication) override;
    VolumeMountResult Unmount(const std::string& volumeId) override;

private:
    const std::string m_BusAddress;
};

}  // namespace tarvex
