#pragma once
// How the bytes a backend receives or sends become the 64-byte reports of CHidConnection.
// Every backend (hidapi, the virtual device) frames through these functions, so that what the
// engine sees does not depend on which one is in use.
//
// A device that numbers its reports sends the report ID as the first byte of every report;
// one that does not sends the data alone. The engine always wants the report ID in byte 0, as
// the tool has always read reports: an unnumbered report gets 0 there and its data moves up.

#include <span>

#include "platform/HidPort.h"

namespace tarvex {

// The largest read a backend needs: a full 64-byte report of data plus a report ID. Anything
// beyond the 64 bytes of a framed report is dropped.
inline constexpr std::size_t kHidReadBufferSize = kHidReportSize + 1;

// `received` is what one read delivered (never empty: an empty read is a time-out). Bytes past
// what fits are dropped; bytes not delivered are zero.
HidReport FrameInputReport(std::span<const std::uint8_t> received, bool bNumbered);

// Checks an output report before it goes to the device: report ID first, 1 to 64 bytes.
// Ok, or Failed with nothing sent.
HidIoStatus CheckOutputReport(std::span<const std::uint8_t> report);

}  // namespace tarvex
