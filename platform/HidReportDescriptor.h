#pragma once
// What a backend needs to know from an HID report descriptor: whether the device numbers its
// reports. A device that declares a Report ID anywhere in its descriptor puts an ID byte in
// front of every report it sends; one that declares none sends bare data.

#include <cstdint>
#include <span>

namespace tarvex {

struct ReportDescriptorSummary {
    // Every item fitted inside the descriptor and no Report ID was 0.
    bool bWellFormed = false;
    // A Report ID item came before the descriptor ended (or before it went wrong).
    bool bUsesReportIds = false;
};

// Walks the descriptor item by item (short items with 0, 1, 2 or 4 data bytes, long items
// with their own size byte), so that a 0x85 inside another item's data is not taken for a
// Report ID.
ReportDescriptorSummary SummariseReportDescriptor(std::span<const std::uint8_t> descriptor);

// Whether input reports arrive with their report ID in front. An empty (unreadable) or broken
// descriptor counts as numbered: the update device numbers its reports (its output report ID
// is 0x81), and the kernel binds no driver to a descriptor it cannot parse anyway.
bool InputReportsNumbered(std::span<const std::uint8_t> descriptor);

}  // namespace tarvex
