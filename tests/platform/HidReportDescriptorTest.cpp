// Whether a report descriptor numbers its reports, item by item.

#include <gtest/gtest.h>

#include <vector>

#include "platform/HidReportDescriptor.h"

namespace tarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A vendor-defined interface with 64-byte reports both ways, as update devices declare them.
const Bytes kNumberedVendorDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage 1
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID 1
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x95, 0x3F,        //   Report Count 63
    0x09, 0x01,        //   Usage 1
    0x81, 0x02,        //   Input
    0x85, 0x81,        //   Report ID 0x81
    0x95, 0x3F,        //   Report Count 63
    0x09, 0x01,        //   Usage 1
    0x91, 0x02,        //   Output
    0xC0,              // End Collection
};

// The same without any Report ID: a keyboard-style interface that sends bare data.
const Bytes kUnnumberedDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
    0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0,
};

struct DescriptorCase {
    const char* Name;
    Bytes Descriptor;
    bool bWellFormed;
    bool bUsesReportIds;
    bool bInputNumbered;
};

TEST(HidReportDescriptor, TellsNumberedFromUnnumberedReports) {
    const std::vector<DescriptorCase> cases = {
        {"numbered vendor interface", kNumberedVendorDescriptor, true, true, true},
        {"unnumbered interface", kUnnumberedDescriptor, true, false, false},
        // Report Count 0x85: the byte after a 1-byte item's prefix is data, not an item.
        {"0x85 as another item's data", {0x95, 0x85, 0x81, 0x02}, true, false, false},
        // 4-byte Usage whose data happens to hold 0x85 bytes.
        {"0x85 inside 4-byte data", {0x0B, 0x85, 0x85, 0x85, 0x85, 0x81, 0x02}, true, false, false},
        // Long item (0xFE, size 2, tag 0x10) carrying 0x85 0x01 as data, then a real ID.
        {"long item skipped whole", {0xFE, 0x02, 0x10, 0x85, 0x01, 0x81, 0x02}, true, false, false},
        {"long item then Report ID", {0xFE, 0x01, 0x10, 0x00, 0x85, 0x02}, true, true, true},
        // Report ID written with a 2-byte data field is still a Report ID.
        {"2-byte Report ID", {0x86, 0x03, 0x00, 0x81, 0x02}, true, true, true},
        {"Report ID 0 is reserved", {0x85, 0x00, 0x81, 0x02}, false, false, true},
        {"Report ID without data", {0x84, 0x81, 0x02}, false, false, true},
        {"item cut off by the end", {0x81, 0x02, 0x26, 0xFF}, false, false, true},
        {"long item cut off", {0xFE, 0x05, 0x10, 0x00}, false, false, true},
        {"ID seen before the break", {0x85, 0x01, 0x27, 0x01}, false, true, true},
        // Nothing readable: assume the numbering the update device uses.
        {"empty", {}, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const ReportDescriptorSummary summary = SummariseReportDescriptor(c.Descriptor);
        EXPECT_EQ(summary.bWellFormed, c.bWellFormed);
        EXPECT_EQ(summary.bUsesReportIds, c.bUsesReportIds);
        EXPECT_EQ(InputReportsNumbered(c.Descriptor), c.bInputNumbered);
    }
}

}  // namespace
}  // namespace tarvex
