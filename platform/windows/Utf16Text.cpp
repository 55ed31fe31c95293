#include "platform/windows/Utf16Text.h"

#include <cstdint>

namespace tarvex {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kLastCodePoint = 0x10FFFF;

constexpr bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    const auto byte = [&](char32_t value) { out.push_back(static_cast<char>(value)); };
    if (codePoint < 0x80) {
        byte(codePoint);
    } else if (codePoint < 0x800) {
        byte(0xC0 | (codePoint >> 6));
        byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        byte(0xE0 | (codePoint >> 12));
        byte(0x80 | ((codePoint >> 6) & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    } else {
        byte(0xF0 | (codePoint >> 18));
        byte(0x80 | ((codePoint >> 12) & 0x3F));
        byte(0x80 | ((codePoint >> 6) & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<wchar_t>(codePoint));
        return;
    }
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
}

struct Decoded {
    char32_t CodePoint = kReplacement;
    std::size_t Length = 1;  // bytes taken; a malformed start takes one
};

// One sequence at the start of `bytes` (never empty).
Decoded DecodeOne(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = at(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return {};
    }
    if (bytes.size() < length) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80) {
            return {};
        }
        value = (value << 6) | (at(i) & 0x3F);
    }
    if (value < smallest || value > kLastCodePoint) {
        return {};
    }
    return {value, length};
}

}  // namespace

std::string WideToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto unit = static_cast<char32_t>(wide[i]);
        if (unit > 0xFFFF) {
            // Not a UTF-16 code unit (only possible where wchar_t is wider than 16 bits).
            AppendUtf8(out, kReplacement);
        } else if (IsHighSurrogate(unit) && i + 1 < wide.size() &&
                   IsLowSurrogate(static_cast<char32_t>(wide[i + 1]))) {
            const auto low = static_cast<char32_t>(wide[++i]);
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            AppendUtf8(out, unit);  // a lone surrogate keeps its own three bytes
        }
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const Decoded decoded = DecodeOne(utf8);
        AppendUtf16(out, decoded.CodePoint);
        utf8.remove_prefix(decoded.Length);
    }
    return out;
}

}  // namespace tarvex
