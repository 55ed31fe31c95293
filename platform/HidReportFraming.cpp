#include "platform/HidReportFraming.h"

#include <algorithm>

namespace tarvex {

HidReport FrameInputReport(std::span<const std::uint8_t> received, bool bNumbered) {
    HidReport report{};
    const std::size_t offset = bNumbered ? 0 : 1;
    const std::size_t count = std::min(received.size(), report.size() - offset);
    std::copy_n(received.begin(), count, report.begin() + static_cast<std::ptrdiff_t>(offset));
    return report;
}

HidIoStatus CheckOutputReport(std::span<const std::uint8_t> report) {
    if (report.empty() || report.size() > kHidReportSize) {
        return HidIoStatus::Failed;
    }
    return HidIoStatus::Ok;
}

}  // namespace tarvex
