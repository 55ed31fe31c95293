#include "update/VersionText.h"

#include <cstdio>

namespace tarvex {

namespace {

// The format comes from our own text table, never from a file or a device.
template <typename... Args>
std::string FormatText(const std::string& format, Args... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    const int length = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), args...);
#pragma GCC diagnostic pop
    text.resize(static_cast<std::size_t>(length));
    return text;
}

double Hundredths(std::uint16_t value) {
    return static_cast<double>(static_cast<float>(value) / 100.0F);
}

}  // namespace

std::string FormatDeviceVersionText(std::uint32_t deviceVersion) {
    if (deviceVersion == kNoDeviceVersion) {
        return "?";
    }
    return FormatText("V%0.2f", Hundredths(static_cast<std::uint16_t>(deviceVersion & 0xFFFF)));
}

std::string FormatImageVersionPrompt(const std::string& releaseText, const std::string& betaText,
                                     const ImageHeaderFields& image) {
    if (image.Beta() != 0) {
        return FormatText(betaText, Hundredths(image.Version()), static_cast<int>(image.Beta()));
    }
    return FormatText(releaseText, Hundredths(image.Version()));
}

}  // namespace tarvex
