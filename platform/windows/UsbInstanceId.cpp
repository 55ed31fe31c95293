#include "platform/windows/UsbInstanceId.h"

namespace tarvex {

namespace {

constexpr std::size_t kMostDigits = 4;

std::optional<unsigned> HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return static_cast<unsigned>(c - L'0');
    }
    if (c >= L'a' && c <= L'f') {
        return static_cast<unsigned>(c - L'a' + 10);
    }
    if (c >= L'A' && c <= L'F') {
        return static_cast<unsigned>(c - L'A' + 10);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> NumberAfter(std::wstring_view id, std::wstring_view prefix) {
    const std::size_t at = id.find(prefix);
    if (at == std::wstring_view::npos) {
        return std::nullopt;
    }
    const std::wstring_view digits = id.substr(at + prefix.size(), kMostDigits);
    unsigned value = 0;
    std::size_t count = 0;
    for (const wchar_t c : digits) {
        const auto digit = HexDigit(c);
        if (!digit) {
            break;
        }
        value = (value << 4) | *digit;
        ++count;
    }
    if (count == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

bool IsUsbDeviceInstanceId(std::wstring_view instanceId) {
    constexpr std::wstring_view kEnumerator = L"USB\\";
    if (!instanceId.starts_with(kEnumerator)) {
        return false;
    }
    const std::size_t start = kEnumerator.size();
    const std::size_t end = instanceId.find(L'\\', start);
    const std::wstring_view hardware =
        instanceId.substr(start, end == std::wstring_view::npos ? end : end - start);
    return ParseUsbInstanceId(hardware).has_value() && hardware.find(L"&MI_") == hardware.npos;
}

std::wstring_view HoldingUsbDevice(std::span<const std::wstring> ancestorIds) {
    for (const auto& id : ancestorIds) {
        if (IsUsbDeviceInstanceId(id)) {
            return id;
        }
    }
    return {};
}

std::optional<UsbIds> ParseUsbInstanceId(std::wstring_view instanceId) {
    const auto vendor = NumberAfter(instanceId, L"VID_");
    const auto product = NumberAfter(instanceId, L"PID_");
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbIds{*vendor, *product};
}

}  // namespace tarvex
