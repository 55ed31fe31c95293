#include "sim/kernel/UhidEndpoint.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/kernel/SysfsDeviceLookup.h"

namespace tarvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kBusUsb = 0x03;

template <std::size_t N>
void CopyText(std::uint8_t (&field)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = 0;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

EndpointOpenResult CUhidEndpoint::Create(const HidDeviceDescription& description,
                                         const std::filesystem::path& uhidNode) {
    CScopedFd fd(::open(uhidNode.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        return {nullptr, "cannot open " + uhidNode.string() + ": " + std::strerror(errno)};
    }
    if (description.ReportDescriptor.empty() ||
        description.ReportDescriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        return {nullptr, "the report descriptor is empty or too long for uhid"};
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& create = event.u.create2;
    CopyText(create.name, description.Manufacturer + " " + description.Product);
    CopyText(create.phys, "tarvex-uhid");
    CopyText(create.uniq, description.Serial);
    create.rd_size = static_cast<std::uint16_t>(description.ReportDescriptor.size());
    create.bus = kBusUsb;
    create.vendor = description.VendorId;
    create.product = description.ProductId;
    std::memcpy(create.rd_data, description.ReportDescriptor.data(),
                description.ReportDescriptor.size());

    std::unique_ptr<CUhidEndpoint> endpoint(new CUhidEndpoint(std::move(fd), description.Serial));
    {
        std::lock_guard lock(endpoint->m_WriteLock);
        if (!endpoint->WriteEventLocked(&event, sizeof event)) {
            return {nullptr, std::string("UHID_CREATE2 refused: ") + std::strerror(errno)};
        }
    }
    return {std::move(endpoint), {}};
}

CUhidEndpoint::CUhidEndpoint(CScopedFd fd, std::string uniq)
    : m_Fd(std::move(fd)), m_Uniq(std::move(uniq)) {}

CUhidEndpoint::~CUhidEndpoint() {
    Unplug();
}

bool CUhidEndpoint::WriteEventLocked(const void* event, std::size_t size) {
    const ssize_t written = ::write(m_Fd.Get(), event, size);
    return written == static_cast<ssize_t>(size);
}

EndpointStatus CUhidEndpoint::ReadOutputReport(HidReport& report,
                                               std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!m_bPlugged.load()) {
            return EndpointStatus::Gone;
        }
        pollfd ready{m_Fd.Get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, RemainingMs(deadline));
        if (polled < 0 && errno != EINTR) {
            return EndpointStatus::Failed;
        }
        if (polled <= 0) {
            if (Clock::now() >= deadline) {
                return EndpointStatus::TimedOut;
            }
            continue;
        }
        uhid_event event{};
        const ssize_t got = ::read(m_Fd.Get(), &event, sizeof event);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return EndpointStatus::Failed;
        }
        switch (event.type) {
            case UHID_OUTPUT: {
                report.fill(0);
                const std::size_t size = std::min<std::size_t>(event.u.output.size, report.size());
                std::copy_n(event.u.output.data, size, report.begin());
                return EndpointStatus::Ok;
            }
            case UHID_GET_REPORT: {
                // The device has no feature reports; refusing at once spares the host the
                // kernel's five-second wait for an answer.
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                std::lock_guard lock(m_WriteLock);
                WriteEventLocked(&reply, sizeof reply);
                break;
            }
            case UHID_SET_REPORT: {
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event.u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                std::lock_guard lock(m_WriteLock);
                WriteEventLocked(&reply, sizeof reply);
                break;
            }
            default:
                // Start, stop, open and close need no answer.
                break;
        }
    }
}

EndpointStatus CUhidEndpoint::WriteInputReport(std::span<const std::uint8_t> report,
                                               std::chrono::milliseconds /*timeout*/) {
    if (report.empty() || report.size() > UHID_DATA_MAX) {
        return EndpointStatus::Failed;
    }
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(report.size());
    std::copy(report.begin(), report.end(), event.u.input2.data);
    // Only the header and the report's own bytes: the kernel takes the event's size from them.
    const std::size_t size = offsetof(uhid_event, u.input2.data) + report.size();
    std::lock_guard lock(m_WriteLock);
    if (!m_bPlugged.load()) {
        return EndpointStatus::Gone;
    }
    return WriteEventLocked(&event, size) ? EndpointStatus::Ok : EndpointStatus::Failed;
}

void CUhidEndpoint::Unplug() {
    std::lock_guard lock(m_WriteLock);
    if (!m_bPlugged.exchange(false)) {
        return;
    }
    uhid_event event{};
    event.type = UHID_DESTROY;
    WriteEventLocked(&event, sizeof event.type);
}

std::string CUhidEndpoint::HostNode() const {
    return m_bPlugged.load() ? FindHidrawNodeByUniq(m_Uniq) : std::string();
}

}  // namespace tarvex
