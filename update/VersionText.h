#pragma once
// Version numbers as the user sees them. Both the device and the image carry the version times
// 100; it is shown with two decimals after a single-precision division, as it always has been.

#include <cstdint>
#include <string>

#include "update/FirmwareImage.h"

namespace tarvex {

inline constexpr std::uint32_t kDeviceVersionUnknown = 0x5A5A5A5A;

// "V1.05" for 105 (only the low 16 bits count), "?" for a device without a version.
std::string FormatDeviceVersionText(std::uint32_t deviceVersion);

// The confirmation question for an image: the release text with the version, or the beta text
// with the version and the beta number. The texts carry printf conversions: "%.02f" for the
// version, then "%d" for the beta number.
std::string FormatImageVersionPrompt(const std::string& releaseText, const std::string& betaText,
                                     const ImageHeaderFields& image);

}  // namespace tarvex
