#pragma once
// Device locks as flock(2) on the device's own node: the hidraw node of an HID interface
// (/dev/hidrawN, the path hidapi lists), the USB device node of a drive-mode device
// (/dev/bus/usb/BBB/DDD, from its sysfs busnum and devnum).
//
// Why the node and not a lock file named after the device: the kernel ties the lock to the node,
// which exists exactly as long as the device is attached, so there is no naming scheme to agree
// on, no stale file after a crash and no shared writable folder in which another user could
// plant a file that nobody else may open. A program dies, the kernel lets its lock go. Everyone
// who can update a device can open its node: a hidraw node must be readable and writable for the
// update itself, and USB device nodes are readable by all. Every process, root's included, sees
// every other's lock.
//
// flock locks belong to one open file, so a second open in the same process would lock that
// process out: each node is opened once per process, and the lock is shared by all holders
// until the last lets it go.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/DeviceLock.h"

namespace tarvex {

// The USB device node for the USB device at `systemPath` (a sysfs folder with busnum and
// devnum), below `usbNodeRoot`; nothing when the folder does not say.
std::optional<std::filesystem::path> UsbDeviceNode(const std::filesystem::path& systemPath,
                                                   const std::filesystem::path& usbNodeRoot);

class CFlockDeviceLocks final : public CDeviceLocks {
public:
    explicit CFlockDeviceLocks(std::filesystem::path usbNodeRoot = "/dev/bus/usb");

    // `device` is a node (an HID interface's path), or a USB device's sysfs folder whose node is
    // locked instead. Busy when another open file of the node holds the lock.
    DeviceLockResult TryLock(const std::string& device) override;

private:
    // The node file to lock for `device`, or why there is none.
    std::optional<std::filesystem::path> NodeFor(const std::string& device, std::string& why) const;

    const std::filesystem::path m_UsbNodeRoot;
    std::mutex m_Lock;
    // The node locks this process holds (their open files), by device and inode of the node.
    std::map<std::pair<dev_t, ino_t>, std::weak_ptr<const void>> m_Held;
};

}  // namespace tarvex
