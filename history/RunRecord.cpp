#include "history/RunRecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace tarvex {

namespace {

using Json = nlohmann::json;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::optional<std::uint16_t> ParseHex4(const std::string& text) {
    if (text.size() != 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9') {
            value |= static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value |= static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            value |= static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(value);
}

// The inverse of FormatUtcTime; empty for anything else.
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string& text) {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute,
                    &second, &zone) != 7 ||
        zone != 'Z' || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                           std::chrono::day(day)};
    if (!date.ok()) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    // The text table's CR LF becomes two blanks; one is enough.
    std::string single;
    for (const char c : text) {
        if (c != ' ' || single.empty() || single.back() != ' ') {
            single.push_back(c);
        }
    }
    while (!single.empty() && single.back() == ' ') {
        single.pop_back();
    }
    return single;
}

std::string DurationText(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

std::string DeviceText(const std::optional<DeviceRecord>& device) {
    if (!device) {
        return "no device";
    }
    std::string text = device->Kind + ' ' + Hex4(device->VendorId) + ':' + Hex4(device->ProductId);
    if (!device->SerialNumber.empty()) {
        text += " serial=" + device->SerialNumber;
    }
    return text;
}

}  // namespace

std::string FormatUtcTime(std::chrono::system_clock::time_point time) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const auto days = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss clock{seconds - days};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int{date.year()},
        unsigned{date.month()}, unsigned{date.day()}, static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
    return text;
}

Json DeviceToJson(const DeviceRecord& device) {
    return Json{{"kind", device.Kind},
                {"vendor", Hex4(device.VendorId)},
                {"product", Hex4(device.ProductId)},
                {"node", device.Node},
                {"serial", device.SerialNumber}};
}

Json RunRecordToJson(const RunRecord& record) {
    Json object{{"time", FormatUtcTime(record.Time)},
                {"program", record.Program},
                {"device", record.Device ? DeviceToJson(*record.Device) : Json(nullptr)},
                {"device_version",
                 record.DeviceVersion.empty() ? Json(nullptr) : Json(record.DeviceVersion)},
                {"image", nullptr},
                {"outcome", record.Outcome},
                {"reason", record.Reason},
                {"duration_ms", record.Duration.count()}};
    if (record.Image) {
        object["image"] =
            Json{{"file", record.Image->FileName},
                 {"size", record.Image->Size},
                 {"sha256", record.Image->Sha256},
                 {"version",
                  record.Image->Version.empty() ? Json(nullptr) : Json(record.Image->Version)}};
    }
    if (!record.Reports.empty()) {
        object["reports"] = record.Reports;
    }
    return object;
}

std::optional<RunRecord> RunRecordFromJson(const Json& object) {
    // Field by field, each of the type the history writes: a line damaged into other valid JSON
    // is refused as well.
    try {
        if (!object.is_object()) {
            return std::nullopt;
        }
        RunRecord record;
        const auto time = ParseUtcTime(object.at("time").get<std::string>());
        if (!time) {
            return std::nullopt;
        }
        record.Time = *time;
        record.Program = object.at("program").get<std::string>();
        record.Outcome = object.at("outcome").get<std::string>();
        record.Reason = object.at("reason").get<std::string>();
        record.Duration = std::chrono::milliseconds(object.at("duration_ms").get<std::int64_t>());
        if (const Json& version = object.at("device_version"); !version.is_null()) {
            record.DeviceVersion = version.get<std::string>();
        }
        if (const Json& device = object.at("device"); !device.is_null()) {
            const auto vendor = ParseHex4(device.at("vendor").get<std::string>());
            const auto product = ParseHex4(device.at("product").get<std::string>());
            if (!vendor || !product) {
                return std::nullopt;
            }
            record.Device = DeviceRecord{device.at("kind").get<std::string>(), *vendor, *product,
                                         device.at("serial").get<std::string>(),
                                         device.at("node").get<std::string>()};
        }
        if (const Json& image = object.at("image"); !image.is_null()) {
            ImageRecord held{image.at("file").get<std::string>(),
                             image.at("size").get<std::uint64_t>(),
                             image.at("sha256").get<std::string>(),
                             {}};
            if (const Json& version = image.at("version"); !version.is_null()) {
                held.Version = version.get<std::string>();
            }
            record.Image = std::move(held);
        }
        if (const auto reports = object.find("reports"); reports != object.end()) {
            record.Reports = reports->get<std::vector<std::string>>();
        }
        return record;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::string JsonLine(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ReadableLine(const RunRecord& record) {
    std::string line =
        FormatUtcTime(record.Time) + ' ' + record.Program + ": " + DeviceText(record.Device);
    if (!record.DeviceVersion.empty()) {
        line += ' ' + record.DeviceVersion;
    }
    if (record.Image) {
        line += " <- " + record.Image->FileName;
        if (!record.Image->Version.empty()) {
            line += ' ' + record.Image->Version;
        }
    }
    line += ": " + record.Outcome;
    if (const std::string reason = OneLine(record.Reason); !reason.empty()) {
        line += " (" + reason + ')';
    }
    line += ", " + DurationText(record.Duration);
    return line;
}

std::string ReadableDetails(const RunRecord& record) {
    std::string text;
    const auto field = [&text](const char* name, const std::string& value) {
        text += name;
        text += ": ";
        text += value;
        text += '\n';
    };
    field("Time (UTC)", FormatUtcTime(record.Time));
    field("Program", record.Program);
    field("Device", DeviceText(record.Device));
    if (record.Device) {
        field("Device node", record.Device->Node);
    }
    field("Firmware before", record.DeviceVersion.empty() ? "unknown" : record.DeviceVersion);
    if (record.Image) {
        field("Image", record.Image->FileName);
        field("Image size", std::to_string(record.Image->Size) + " bytes");
        field("Image SHA-256", record.Image->Sha256);
        field("Image version", record.Image->Version.empty() ? "unknown" : record.Image->Version);
    }
    field("Outcome", record.Outcome);
    if (const std::string reason = OneLine(record.Reason); !reason.empty()) {
        field("Reason", reason);
    }
    field("Duration", DurationText(record.Duration));
    if (!record.Reports.empty()) {
        text += "Last reports:\n";
        for (const std::string& report : record.Reports) {
            text += report;
            text += '\n';
        }
    }
    return text;
}

}  // namespace tarvex
