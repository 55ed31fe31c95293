#include "platform/linux/HidapiConnection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <limits>
#include <optional>
#include <vector>

#include "platform/HidReportDescriptor.h"
#include "platform/HidReportFraming.h"
#include "platform/linux/HidrawMapping.h"

namespace tarvex {

namespace {

// The kernel refuses report descriptors longer than this.
constexpr std::size_t kMaxReportDescriptorSize = 4096;

// errno of opening the node ourselves, or 0 when that succeeds (the node changed between the
// two attempts).
int ProbeOpenErrno(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

std::uint64_t NodeNumber(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return 0;
    }
    return status.st_rdev;
}

std::optional<unsigned> HidrawMajor() {
    std::ifstream file("/proc/devices");
    std::string text;
    for (std::string line; std::getline(file, line);) {
        text += line + '\n';
    }
    return CharacterDeviceMajor(text, "hidraw");
}

// Why `path` must not go to hid_open_path, or None. hidapi 0.13 crashes in hid_open_path when
// the node opens but is not a hidraw node, so nothing else reaches it. Without /proc/devices
// to name hidraw's major number, any character device is let through.
HidOpenError RefuseAnythingButHidraw(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return OpenErrorFromErrno(errno);
    }
    if (!S_ISCHR(status.st_mode)) {
        return HidOpenError::Other;
    }
    const auto hidrawMajor = HidrawMajor();
    return hidrawMajor && major(status.st_rdev) != *hidrawMajor ? HidOpenError::Other
                                                                : HidOpenError::None;
}

// Empty when sysfs does not have it (no such interface, or a path not under /dev).
std::vector<std::uint8_t> ReadReportDescriptor(const std::string& devicePath) {
    const auto descriptorPath = ReportDescriptorPathFor(devicePath);
    if (!descriptorPath) {
        return {};
    }
    std::ifstream file(*descriptorPath, std::ios::binary);
    std::vector<std::uint8_t> bytes(kMaxReportDescriptorSize);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

}  // namespace

HidOpenResult CHidapiConnection::Open(const std::string& path) {
    if (const HidOpenError refused = RefuseAnythingButHidraw(path); refused != HidOpenError::None) {
        return {nullptr, refused};
    }
    HidDevicePtr reader;
    HidDevicePtr writer;
    {
        const auto lock = LockHidapiGlobals();
        reader.reset(hid_open_path(path.c_str()));
        if (reader) {
            writer.reset(hid_open_path(path.c_str()));
        }
    }
    if (!reader || !writer) {
        return {nullptr, OpenErrorFromErrno(ProbeOpenErrno(path))};
    }
    const bool numbered = InputReportsNumbered(ReadReportDescriptor(path));
    return {std::unique_ptr<CHidapiConnection>(new CHidapiConnection(
                path, std::move(reader), std::move(writer), numbered, NodeNumber(path))),
            HidOpenError::None};
}

CHidapiConnection::CHidapiConnection(std::string path, HidDevicePtr reader, HidDevicePtr writer,
                                     bool bInputNumbered, std::uint64_t nodeNumber)
    : m_Path(std::move(path)),
      m_bInputNumbered(bInputNumbered),
      m_NodeNumber(nodeNumber),
      m_pReader(std::move(reader)),
      m_pWriter(std::move(writer)) {}

bool CHidapiConnection::NodePresent() const {
    const std::uint64_t now = NodeNumber(m_Path);
    return now != 0 && (m_NodeNumber == 0 || now == m_NodeNumber);
}

HidIoStatus CHidapiConnection::ReadInputReport(HidReport& report,
                                               std::chrono::milliseconds timeout) {
    const int waitMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 0, std::numeric_limits<int>::max()));
    std::array<std::uint8_t, kHidReadBufferSize> received{};
    std::lock_guard lock(m_ReadLock);
    errno = 0;
    const int count = hid_read_timeout(m_pReader.get(), received.data(), received.size(), waitMs);
    const int error = errno;
    if (count > 0) {
        report = FrameInputReport(
            std::span<const std::uint8_t>(received.data(), static_cast<std::size_t>(count)),
            m_bInputNumbered);
        return HidIoStatus::Ok;
    }
    if (count == 0) {
        return HidIoStatus::TimedOut;
    }
    return ReadFailureStatus(error, NodePresent());
}

HidIoStatus CHidapiConnection::WriteOutputReport(std::span<const std::uint8_t> report) {
    if (CheckOutputReport(report) != HidIoStatus::Ok) {
        return HidIoStatus::Failed;
    }
    std::lock_guard lock(m_WriteLock);
    errno = 0;
    const int count = hid_write(m_pWriter.get(), report.data(), report.size());
    const int error = errno;
    if (count == static_cast<int>(report.size())) {
        return HidIoStatus::Ok;
    }
    if (count >= 0) {
        return HidIoStatus::Failed;  // a short write left the report incomplete
    }
    return WriteFailureStatus(error, NodePresent());
}

}  // namespace tarvex
