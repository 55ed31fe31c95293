#include "platform/linux/LogindSleepInhibitor.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/linux/ScopedFd.h"
#include "platform/linux/SdBusHandles.h"

namespace tarvex {
namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

class CLogindSleepBlock final : public CSleepBlock {
public:
    explicit CLogindSleepBlock(CScopedFd fd) : m_Fd(std::move(fd)) {}

private:
    CScopedFd m_Fd;  // logind ends the block when the last copy of it is closed
};

SleepBlockResult Failure(SleepBlockError error, std::string message) {
    return {nullptr, error, std::move(message)};
}

std::string SystemWords(const char* what, int negativeErrno) {
    return std::string(what) + ": " + std::strerror(-negativeErrno);
}

// The connection, or the reason there is none.
SdBusPtr OpenBus(const std::string& address, SleepBlockResult& failure) {
    sd_bus* raw = nullptr;
    if (address.empty()) {
        const int result = sd_bus_open_system(&raw);
        if (result < 0) {
            failure = Failure(SleepBlockError::NoSystemBus, SystemWords("system bus", result));
            return {};
        }
        return SdBusPtr(raw);
    }
    int result = sd_bus_new(&raw);
    if (result < 0) {
        failure = Failure(SleepBlockError::NoSystemBus, SystemWords("bus", result));
        return {};
    }
    SdBusPtr bus(raw);
    if ((result = sd_bus_set_address(raw, address.c_str())) < 0 ||
        (result = sd_bus_set_bus_client(raw, 1)) < 0 || (result = sd_bus_start(raw)) < 0) {
        failure = Failure(SleepBlockError::NoSystemBus, SystemWords(address.c_str(), result));
        return {};
    }
    return bus;
}

SleepBlockResult FailedCall(CSdBusError& error, int result) {
    if (error.Is(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.Is(SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
        return Failure(SleepBlockError::NoService, error.Message());
    }
    if (error.Is(SD_BUS_ERROR_NO_REPLY) || error.Is(SD_BUS_ERROR_TIMEOUT) || result == -ETIMEDOUT) {
        return Failure(SleepBlockError::NoAnswer, error.Set() ? error.Message() : "time-out");
    }
    if (error.Set()) {
        return Failure(SleepBlockError::Refused,
                       std::string(error.Name()) + ": " + error.Message());
    }
    return Failure(SleepBlockError::Refused, SystemWords("Inhibit", result));
}

}  // namespace

CLogindSleepInhibitor::CLogindSleepInhibitor(std::string busAddress,
                                             std::chrono::milliseconds callTimeout)
    : m_BusAddress(std::move(busAddress)), m_CallTimeout(callTimeout) {}

SleepBlockResult CLogindSleepInhibitor::BlockSleep(const std::string& who, const std::string& why) {
    SleepBlockResult failure;
    const SdBusPtr bus = OpenBus(m_BusAddress, failure);
    if (!bus) {
        return failure;
    }

    sd_bus_message* rawCall = nullptr;
    int result = sd_bus_message_new_method_call(bus.get(), &rawCall, kLogindService, kLogindPath,
                                                kLogindManager, "Inhibit");
    const SdBusMessagePtr call(rawCall);
    if (result >= 0) {
        result = sd_bus_message_append(rawCall, "ssss", kLogindInhibitWhat, who.c_str(),
                                       why.c_str(), kLogindInhibitMode);
    }
    if (result < 0) {
        return Failure(SleepBlockError::Refused, SystemWords("Inhibit call", result));
    }

    CSdBusError error;
    sd_bus_message* rawReply = nullptr;
    const auto timeoutUs =
        std::chrono::duration_cast<std::chrono::microseconds>(m_CallTimeout).count();
    result = sd_bus_call(bus.get(), rawCall, static_cast<std::uint64_t>(timeoutUs), error.Get(),
                         &rawReply);
    const SdBusMessagePtr reply(rawReply);
    if (result < 0) {
        return FailedCall(error, result);
    }

    // The reply owns the descriptor it carries; the block keeps a copy of its own.
    int replyFd = -1;
    result = sd_bus_message_read(rawReply, "h", &replyFd);
    if (result < 0) {
        return Failure(SleepBlockError::Refused, SystemWords("Inhibit reply", result));
    }
    CScopedFd fd(fcntl(replyFd, F_DUPFD_CLOEXEC, 3));
    if (!fd.Valid()) {
        return Failure(SleepBlockError::Refused, SystemWords("dup", -errno));
    }
    return {std::make_unique<CLogindSleepBlock>(std::move(fd)), SleepBlockError::None, {}};
}

}  // namespace tarvex
