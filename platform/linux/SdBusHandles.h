#pragma once
// Owners for the sd-bus objects the Linux backends use. A bus connection is not thread-safe: each
// owner makes its own and keeps it to one thread.

#include <systemd/sd-bus.h>

#include <memory>

namespace tarvex {

struct SdBusClose {
    // Sends what is queued, closes the connection and frees it.
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SdBusMessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

using SdBusPtr = std::unique_ptr<sd_bus, SdBusClose>;
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

// An error record that frees what the library put into it.
class CSdBusError {
public:
    CSdBusError() = default;
    ~CSdBusError() { sd_bus_error_free(&m_Error); }
    CSdBusError(const CSdBusError&) = delete;
    CSdBusError& operator=(const CSdBusError&) = delete;

    sd_bus_error* Get() { return &m_Error; }
    bool Is(const char* name) const { return sd_bus_error_has_name(&m_Error, name) != 0; }
    bool Set() const { return sd_bus_error_is_set(&m_Error) != 0; }
    const char* Name() const { return m_Error.name != nullptr ? m_Error.name : ""; }
    const char* Message() const { return m_Error.message != nullptr ? m_Error.message : ""; }

private:
    sd_bus_error m_Error = SD_BUS_ERROR_NULL;
};

}  // namespace tarvex
