#include "sim/kernel/HidGadgetEndpoint.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/kernel/SysfsDeviceLookup.h"

namespace tarvex {

namespace {

constexpr const char* kFunctionInstance = "update";
// devtmpfs makes /dev/hidgN while the gadget binds; this only guards against a node that never
// comes.
constexpr auto kNodeWait = std::chrono::seconds(5);

// The /dev node of a character device given as "major:minor", found through /sys/dev/char.
std::string CharDeviceNode(const std::string& majorMinor) {
    const std::string name =
        UeventValue(ReadSysfsFile("/sys/dev/char/" + majorMinor + "/uevent"), "DEVNAME");
    return name.empty() ? std::string() : "/dev/" + name;
}

CScopedFd OpenWhenPresent(const std::string& majorMinor) {
    const auto deadline = std::chrono::steady_clock::now() + kNodeWait;
    for (;;) {
        const std::string node = CharDeviceNode(majorMinor);
        if (!node.empty()) {
            CScopedFd fd(::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
            if (fd.Valid() || std::chrono::steady_clock::now() > deadline) {
                return fd;
            }
        } else if (std::chrono::steady_clock::now() > deadline) {
            return CScopedFd();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

EndpointOpenResult CHidGadgetEndpoint::Create(const HidDeviceDescription& description,
                                              const std::string& gadgetName,
                                              const std::string& controller) {
    std::string error;
    auto gadget = CConfigfsGadget::Create(
        gadgetName,
        GadgetIdentity{description.VendorId, description.ProductId, description.Manufacturer,
                       description.Product, description.Serial},
        error);
    if (!gadget) {
        return {nullptr, error};
    }
    error = gadget->AddHidFunction(kFunctionInstance, description.ReportDescriptor,
                                   description.ReportLength);
    if (error.empty()) {
        error = gadget->Bind(controller);
    }
    if (!error.empty()) {
        return {nullptr, error};
    }
    CScopedFd fd = OpenWhenPresent(gadget->HidFunctionDevice(kFunctionInstance));
    if (!fd.Valid()) {
        return {nullptr,
                "cannot open the gadget's /dev/hidg node: " + std::string(std::strerror(errno))};
    }
    return {std::unique_ptr<CHidGadgetEndpoint>(
                new CHidGadgetEndpoint(std::move(gadget), std::move(fd), description.Serial)),
            {}};
}

CHidGadgetEndpoint::CHidGadgetEndpoint(std::unique_ptr<CConfigfsGadget> gadget, CScopedFd fd,
                                       std::string serial)
    : m_pGadget(std::move(gadget)), m_Fd(std::move(fd)), m_Serial(std::move(serial)) {}

CHidGadgetEndpoint::~CHidGadgetEndpoint() {
    Unplug();
    // The node is closed before the gadget's folders go: the function cannot be removed while
    // its device is open.
    m_Fd.Reset();
    m_pGadget.reset();
}

EndpointStatus CHidGadgetEndpoint::ReadOutputReport(HidReport& report,
                                                    std::chrono::milliseconds timeout) {
    if (!m_bPlugged.load()) {
        return EndpointStatus::Gone;
    }
    pollfd ready{m_Fd.Get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
    if (!m_bPlugged.load()) {
        return EndpointStatus::Gone;
    }
    if (polled == 0 || (polled < 0 && errno == EINTR)) {
        return EndpointStatus::TimedOut;
    }
    if (polled < 0) {
        return EndpointStatus::Failed;
    }
    std::uint8_t buffer[kHidReportSize * 2];
    const ssize_t got = ::read(m_Fd.Get(), buffer, sizeof buffer);
    if (got < 0) {
        return errno == EAGAIN ? EndpointStatus::TimedOut : EndpointStatus::Failed;
    }
    report.fill(0);
    std::copy_n(buffer, std::min<std::size_t>(static_cast<std::size_t>(got), report.size()),
                report.begin());
    return EndpointStatus::Ok;
}

EndpointStatus CHidGadgetEndpoint::WriteInputReport(std::span<const std::uint8_t> report,
                                                    std::chrono::milliseconds timeout) {
    if (!m_bPlugged.load()) {
        return EndpointStatus::Gone;
    }
    // The function holds one input report at a time; the next may go once the host took it.
    pollfd ready{m_Fd.Get(), POLLOUT, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
    if (polled == 0) {
        return EndpointStatus::TimedOut;
    }
    const ssize_t written = ::write(m_Fd.Get(), report.data(), report.size());
    if (written == static_cast<ssize_t>(report.size())) {
        return EndpointStatus::Ok;
    }
    if (written < 0 && errno == EAGAIN) {
        return EndpointStatus::TimedOut;
    }
    return m_bPlugged.load() ? EndpointStatus::Failed : EndpointStatus::Gone;
}

void CHidGadgetEndpoint::Unplug() {
    if (m_bPlugged.exchange(false)) {
        m_pGadget->Unbind();
    }
}

std::string CHidGadgetEndpoint::HostNode() const {
    return m_bPlugged.load() ? FindHidrawNodeByUniq(m_Serial) : std::string();
}

}  // namespace tarvex
