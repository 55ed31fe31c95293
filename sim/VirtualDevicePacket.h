#pragma once
// The packet layout as the virtual update device reads it, and its longest wait: shared by the
// sources of CVirtualUpdateDevice (VirtualUpdateDevice.cpp, VirtualDeviceProtocol.cpp,
// VirtualDeviceFaults.cpp, VirtualDeviceRecord.cpp) and by nothing else.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "hid/ReportLayout.h"

namespace tarvex::sim {

// Offsets inside a packet, which starts at report byte 2 (after the report ID and length byte).
inline constexpr std::size_t kPacketStart = 2;
inline constexpr std::size_t kPacketMarker = kReportMarker - kPacketStart;
inline constexpr std::size_t kPacketOpcode = kReportOpcode - kPacketStart;
inline constexpr std::size_t kPacketLengthField =
    4 - kPacketStart;  // 16-bit, counts from byte 6 on
inline constexpr std::size_t kPacketCommand = kReportReplyCode - kPacketStart;
inline constexpr std::size_t kPacketPayloadLength = 7 - kPacketStart;
inline constexpr std::size_t kPacketPayload = 9 - kPacketStart;

// The image header as the device receives it: four 32-bit words most significant byte first,
// then twelve bytes the device takes as they come.
inline constexpr std::size_t kHeaderWords = 4;
inline constexpr std::size_t kHeaderWordBytes = 4;
inline constexpr std::size_t kHeaderPayloadLengthWord = 2;

// Longer waits are as good as forever, and keep the deadline clear of the clock's range.
inline constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);

}  // namespace tarvex::sim
