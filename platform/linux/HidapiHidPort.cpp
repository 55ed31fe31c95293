#include "platform/linux/HidapiHidPort.h"

#include <algorithm>
#include <cstdint>

#include "platform/linux/HidapiConnection.h"
#include "platform/linux/HidapiHandles.h"

namespace tarvex {

std::vector<HidInterfaceInfo> KeepFirstOfEachPath(std::vector<HidInterfaceInfo> interfaces) {
    std::vector<HidInterfaceInfo> kept;
    kept.reserve(interfaces.size());
    for (auto& candidate : interfaces) {
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const HidInterfaceInfo& k) {
            return k.Path == candidate.Path;
        });
        if (!candidate.Path.empty() && !seen) {
            kept.push_back(std::move(candidate));
        }
    }
    return kept;
}

std::string HidapiTextToUtf8(const wchar_t* text) {
    std::string utf8;
    for (; text != nullptr && *text != L'\0'; ++text) {
        auto code = static_cast<std::uint32_t>(*text);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (code >> 18));
            utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

CHidapiHidPort::CHidapiHidPort() {
    const auto lock = LockHidapiGlobals();
    m_bLibraryReady = hid_init() == 0;
}

std::vector<HidInterfaceInfo> CHidapiHidPort::ListHidInterfaces() {
    if (!m_bLibraryReady) {
        return {};
    }
    HidDeviceInfoList list;
    {
        const auto lock = LockHidapiGlobals();
        list.reset(hid_enumerate(0, 0));
    }
    std::vector<HidInterfaceInfo> interfaces;
    for (const hid_device_info* entry = list.get(); entry != nullptr; entry = entry->next) {
        interfaces.push_back({entry->path != nullptr ? entry->path : "", entry->vendor_id,
                              entry->product_id, HidapiTextToUtf8(entry->serial_number)});
    }
    return KeepFirstOfEachPath(std::move(interfaces));
}

HidOpenResult CHidapiHidPort::OpenHidInterface(const std::string& path) {
    if (!m_bLibraryReady) {
        return {nullptr, HidOpenError::Other};
    }
    return CHidapiConnection::Open(path);
}

}  // namespace tarvex
