#pragma once
// Reports for talking to the virtual device the way the host does, without going through CHid.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "hid/ReportLayout.h"
#include "sim/VirtualUpdateDevice.h"

namespace tarvex::sim::test {

// Long enough for any wake-up that works; bounded so that one that does not fails the test
// rather than hanging it.
inline constexpr std::chrono::milliseconds kGenerousTimeout = std::chrono::seconds(30);

// A 64-byte report whose leading bytes are `head`, zeros after them.
inline HidReport ReportOf(std::initializer_list<std::uint8_t> head) {
    HidReport report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

// The output report that carries `body` (length byte first), padded as the host pads it.
inline HidReport OutputReport(const ReportBody& body) {
    HidReport report{};
    report[0] = kOutputReportId;
    std::copy(body.begin(), body.end(), report.begin() + 1);
    return report;
}

// Every reply that is readable now, in the order the device gives them.
inline std::vector<HidReport> ReadableReplies(CVirtualUpdateDevice& device) {
    std::vector<HidReport> replies;
    HidReport reply{};
    while (device.SendInputReport(reply, std::chrono::milliseconds(0)) == HidIoStatus::Ok) {
        replies.push_back(reply);
    }
    return replies;
}

inline const HidReport kUpdateReady =
    ReportOf({kInputReportId, 0x05, 0x00, 0x19, 0x00, 0x00, 0x00});
inline const HidReport kAck = ReportOf({kInputReportId, 0x05, 0x00, 0x16, 0x00, 0x00, 0x14});

inline HidReport FailureReply(std::uint8_t code) {
    return ReportOf({kInputReportId, 0x05, 0x00, 0x16, 0x00, 0x00, code});
}

}  // namespace tarvex::sim::test
