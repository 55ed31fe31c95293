// Arbitrary bytes as what an HID device says of itself and sends: its report descriptor (does it
// number its reports?) and one input report framed for the engine. The descriptor's items must
// never be read past its end, and the framing must hand the engine exactly the bytes received,
// report ID in byte 0 (0 for a device that does not number its reports).

#include <algorithm>
#include <span>

#include "fuzz/FuzzCheck.h"
#include "platform/HidReportDescriptor.h"
#include "platform/HidReportFraming.h"

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const ReportDescriptorSummary summary = SummariseReportDescriptor(bytes);
    const bool numbered = InputReportsNumbered(bytes);
    // A Report ID item starts with one of the prefixes 0x84 to 0x87.
    FUZZ_CHECK(!summary.bUsesReportIds ||
               std::any_of(bytes.begin(), bytes.end(), [](auto b) { return (b & 0xFC) == 0x84; }));
    FUZZ_CHECK(numbered == (bytes.empty() || !summary.bWellFormed || summary.bUsesReportIds));

    if (bytes.empty()) {
        return 0;  // an empty read is a time-out, never framed
    }
    const HidReport report = FrameInputReport(bytes, numbered);
    const std::size_t offset = numbered ? 0 : 1;
    const std::size_t kept = std::min(bytes.size(), kHidReportSize - offset);
    FUZZ_CHECK(numbered || report[0] == 0);
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.begin() + kept, report.begin() + offset));
    FUZZ_CHECK(
        std::all_of(report.begin() + offset + kept, report.end(), [](auto b) { return b == 0; }));
    return 0;
}
