#pragma once
// The senders: build a packet and hand it to CHid. They keep no state; every one returns the
// write's status so that callers can tell a device that is gone from one that is only slow.

#include <cstdint>
#include <span>

#include "hid/Hid.h"

namespace tarvex {

HidIoStatus SendRequest(CHid& hid, std::uint8_t code, std::uint8_t argument);

// Command packet over the route `sendMode` selects. Only the report route (0x97) is supported;
// any other mode sends nothing and reports Failed. A non-data payload longer than 55 bytes would
// not fit one report and is refused the same way.
HidIoStatus SendCommand(CHid& hid, std::uint8_t sendMode, std::uint8_t command,
                        std::span<const std::uint8_t> payload = {});

HidIoStatus SendDataPacket(CHid& hid, std::uint8_t sendMode, std::span<const std::uint8_t> chunk);

// Sends the header as command 1 with its first four words turned big-endian.
HidIoStatus SendImageHeader(CHid& hid, std::uint8_t sendMode,
                            std::span<const std::uint8_t, kImageHeaderSize> header);

}  // namespace tarvex
