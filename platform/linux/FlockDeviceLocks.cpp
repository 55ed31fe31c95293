#include "platform/linux/FlockDeviceLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/linux/ScopedFd.h"

namespace tarvex {

namespace {

std::optional<unsigned> ReadNumber(const std::filesystem::path& file) {
    std::ifstream in(file);
    unsigned value = 0;
    if (!(in >> value)) {
        return std::nullopt;
    }
    return value;
}

DeviceLockResult Unavailable(std::string why) {
    return {nullptr, DeviceLockError::Unavailable, std::move(why)};
}

}  // namespace

std::optional<std::filesystem::path> UsbDeviceNode(const std::filesystem::path& systemPath,
                                                   const std::filesystem::path& usbNodeRoot) {
    const auto bus = ReadNumber(systemPath / "busnum");
    const auto address = ReadNumber(systemPath / "devnum");
    if (!bus || !address || *bus > 999 || *address > 999) {
        return std::nullopt;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%03u/%03u", *bus, *address);
    return usbNodeRoot / name;
}

CFlockDeviceLocks::CFlockDeviceLocks(std::filesystem::path usbNodeRoot)
    : m_UsbNodeRoot(std::move(usbNodeRoot)) {}

std::optional<std::filesystem::path> CFlockDeviceLocks::NodeFor(const std::string& device,
                                                                std::string& why) const {
    std::error_code error;
    if (!std::filesystem::is_directory(device, error)) {
        return std::filesystem::path(device);
    }
    auto node = UsbDeviceNode(device, m_UsbNodeRoot);
    if (!node) {
        why = device + ": no USB bus number and address";
    }
    return node;
}

DeviceLockResult CFlockDeviceLocks::TryLock(const std::string& device) {
    std::string why;
    const auto node = NodeFor(device, why);
    if (!node) {
        return Unavailable(why);
    }
    // Read-only is enough for a lock, and leaves the node's reports to the connections; never
    // blocking, never this process's controlling terminal, never inherited by a helper program.
    CScopedFd fd(::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid()) {
        return Unavailable(node->string() + ": " + std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        return Unavailable(node->string() + ": " + std::strerror(errno));
    }
    const std::pair key{status.st_dev, status.st_ino};

    std::lock_guard lock(m_Lock);
    if (auto held = m_Held[key].lock()) {
        return {ShareDeviceLock(std::move(held)), DeviceLockError::None, {}};
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            return {nullptr, DeviceLockError::Busy, node->string() + ": locked by another program"};
        }
        return Unavailable(node->string() + ": " + std::strerror(error));
    }
    // Closing the file ends the lock.
    auto held = std::make_shared<const CScopedFd>(std::move(fd));
    m_Held[key] = held;
    // Entries whose lock has gone are dropped here, so the map holds no more than the devices
    // this process has ever locked at once.
    std::erase_if(m_Held, [](const auto& entry) { return entry.second.expired(); });
    return {ShareDeviceLock(std::move(held)), DeviceLockError::None, {}};
}

}  // namespace tarvex
