#pragma once
// The ids of the program's pictures, as both windows' resources name them. Pure.

#include <cstdint>

#include "ui/LocalizedText.h"
#include "ui/UiGeometry.h"

namespace tarvex {

// Button pictures, 70 x 22, named as LocalizedBitmapId names them.
inline constexpr std::uint32_t kPictureOk = LocalizedBitmapId(10);                 // 4010
inline constexpr std::uint32_t kPictureOkHighlighted = LocalizedBitmapId(12);      // 4012
inline constexpr std::uint32_t kPictureCancel = LocalizedBitmapId(13);             // 4013
inline constexpr std::uint32_t kPictureCancelHighlighted = LocalizedBitmapId(15);  // 4015
// The prompt's background, 300 x 127: dark red with a thin light frame inset 10 pixels.
inline constexpr std::uint32_t kPicturePromptBackground = 134;
// The program icon.
inline constexpr std::uint32_t kPictureProgramIcon = 110;

inline constexpr UiSize kButtonPictureSize{70, 22};

}  // namespace tarvex
