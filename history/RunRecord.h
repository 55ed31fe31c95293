#pragma once
// One run as the history keeps it, its JSON form (one object per line of the history file and
// the terminal program's --json) and its readable forms (--history's line, the window's copy).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tarvex {

// The device as --list shows it.
struct DeviceRecord {
    std::string Kind;  // "hid" or "drive"
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::string SerialNumber;  // empty when the device reports none
    std::string Node;          // the HID interface's path, the drive-mode device's USB path
};

struct ImageRecord {
    std::string FileName;  // the name alone, without its folder
    std::uint64_t Size = 0;
    std::string Sha256;   // lower-case hexadecimal; empty when the file could not be read
    std::string Version;  // as the question shows it ("V1.06", "V1.06 beta 2"); empty if none
};

struct RunRecord {
    std::chrono::system_clock::time_point Time;  // when the run ended
    std::string Program;
    std::optional<DeviceRecord> Device;
    std::string DeviceVersion;  // the device's firmware before the run; empty when unknown
    std::optional<ImageRecord> Image;
    std::string Outcome;  // "succeeded", "failed", "cancelled", "image refused"
    std::string Reason;   // what the run told the user, or why it ended
    std::chrono::milliseconds Duration{0};
    // A failed run's last reports, as --trace prints them, oldest first.
    std::vector<std::string> Reports;
};

// "2026-12-11T08:40:05Z"
std::string FormatUtcTime(std::chrono::system_clock::time_point time);

nlohmann::json DeviceToJson(const DeviceRecord& device);
nlohmann::json RunRecordToJson(const RunRecord& record);
// Empty when the object lacks a field the history always writes or holds one of another type.
std::optional<RunRecord> RunRecordFromJson(const nlohmann::json& object);

// The JSON text of `value` on one line. Bytes that are not UTF-8 (a device's serial number can
// hold anything) become U+FFFD rather than failing.
std::string JsonLine(const nlohmann::json& value);

// One line: time, program, device, versions, image, outcome, reason, duration.
std::string ReadableLine(const RunRecord& record);
// A field per line and the reports after them: what the window copies for the user to send on.
std::string ReadableDetails(const RunRecord& record);

}  // namespace tarvex
