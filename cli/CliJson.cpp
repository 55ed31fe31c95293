#include "cli/CliJson.h"

#include <nlohmann/json.hpp>

namespace tarvex {

namespace {

DeviceRecord AsDeviceRecord(const UpdatableDevice& device) {
    return {device.Kind == UpdatableDeviceKind::Drive ? "drive" : "hid", device.VendorId,
            device.ProductId, device.SerialNumber, device.Node};
}

}  // namespace

std::string DevicesJson(const std::vector<UpdatableDevice>& devices) {
    nlohmann::json array = nlohmann::json::array();
    for (const UpdatableDevice& device : devices) {
        array.push_back(DeviceToJson(AsDeviceRecord(device)));
    }
    return JsonLine(array);
}

std::string UpdateRunJson(const std::optional<RunRecord>& record, int exitStatus,
                          const std::string& reasonWithoutRun) {
    nlohmann::json object;
    if (record) {
        object = RunRecordToJson(*record);
    } else {
        object = {{"outcome", "not started"},
                  {"reason", reasonWithoutRun},
                  {"device", nullptr},
                  {"device_version", nullptr},
                  {"image", nullptr}};
    }
    object["exit_status"] = exitStatus;
    return JsonLine(object);
}

int PrintHistory(const CRunHistory* history, bool json, std::ostream& out, std::ostream& err) {
    if (history == nullptr || history->File().empty()) {
        err << "tarvex-update-cli: no history: this system names no folder for it.\n";
        return 1;
    }
    const HistoryContents contents = history->Read();
    if (!contents.Read.Ok()) {
        err << "tarvex-update-cli: cannot read the history: " << contents.Read.Detail << '\n';
        return 1;
    }
    for (const std::string& note : contents.Notes) {
        err << "tarvex-update-cli: " << history->File().string() << ", " << note << '\n';
    }
    if (json) {
        nlohmann::json array = nlohmann::json::array();
        for (const RunRecord& record : contents.Records) {
            array.push_back(RunRecordToJson(record));
        }
        out << JsonLine(array) << '\n';
        return 0;
    }
    for (const RunRecord& record : contents.Records) {
        out << ReadableLine(record) << '\n';
    }
    return 0;
}

std::string CLastLineBuffer::LastLine() const {
    std::lock_guard lock(m_Lock);
    return m_Line.empty() ? m_LastLine : m_Line;
}

void CLastLineBuffer::Note(char c) {
    if (c == '\n') {
        if (!m_Line.empty()) {
            m_LastLine = std::move(m_Line);
        }
        m_Line.clear();
    } else {
        m_Line.push_back(c);
    }
}

CLastLineBuffer::int_type CLastLineBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    std::lock_guard lock(m_Lock);
    Note(traits_type::to_char_type(c));
    return m_pInner->sputc(traits_type::to_char_type(c));
}

std::streamsize CLastLineBuffer::xsputn(const char* text, std::streamsize count) {
    std::lock_guard lock(m_Lock);
    for (std::streamsize i = 0; i < count; ++i) {
        Note(text[i]);
    }
    return m_pInner->sputn(text, count);
}

int CLastLineBuffer::sync() {
    std::lock_guard lock(m_Lock);
    return m_pInner->pubsync();
}

}  // namespace tarvex
