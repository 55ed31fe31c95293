#include "platform/HidReportDescriptor.h"

namespace tarvex {

namespace {

constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::size_t kLongItemHeader = 3;  // prefix, data size, long item tag
// Tag and type bits of a short item, size bits masked off: global item 8 is the Report ID.
constexpr std::uint8_t kReportIdItem = 0x84;
constexpr std::uint8_t kSizeBits = 0x03;

constexpr std::size_t ShortItemDataSize(std::uint8_t prefix) {
    const std::size_t code = prefix & kSizeBits;
    return code == 3 ? 4 : code;
}

std::uint32_t ReadItemValue(std::span<const std::uint8_t> data) {
    std::uint32_t value = 0;
    for (std::size_t i = data.size(); i-- > 0;) {
        value = (value << 8) | data[i];
    }
    return value;
}

}  // namespace

ReportDescriptorSummary SummariseReportDescriptor(std::span<const std::uint8_t> descriptor) {
    ReportDescriptorSummary summary;
    std::size_t position = 0;
    while (position < descriptor.size()) {
        const std::uint8_t prefix = descriptor[position];
        const std::size_t remaining = descriptor.size() - position;
        if (prefix == kLongItemPrefix) {
            if (remaining < kLongItemHeader ||
                remaining - kLongItemHeader < descriptor[position + 1]) {
                return summary;
            }
            position += kLongItemHeader + descriptor[position + 1];
            continue;
        }
        const std::size_t dataSize = ShortItemDataSize(prefix);
        if (remaining - 1 < dataSize) {
            return summary;
        }
        if ((prefix & ~kSizeBits) == kReportIdItem) {
            if (dataSize == 0 || ReadItemValue(descriptor.subspan(position + 1, dataSize)) == 0) {
                return summary;  // ID 0 is reserved; no device can use it
            }
            summary.bUsesReportIds = true;
        }
        position += 1 + dataSize;
    }
    summary.bWellFormed = true;
    return summary;
}

bool InputReportsNumbered(std::span<const std::uint8_t> descriptor) {
    const ReportDescriptorSummary summary = SummariseReportDescriptor(descriptor);
    return descriptor.empty() || !summary.bWellFormed || summary.bUsesReportIds;
}

}  // namespace tarvex
