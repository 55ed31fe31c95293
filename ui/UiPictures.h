#pragma once
// The program's pictures: the prompt's button pictures and background, and the program icon.
// Their sources are SVG files in the program's resources, drawn at the size each picture has
// and at the device pixel ratio of the screen it goes to, so they stay sharp at any scale.
//
// Threads: the window's thread only (QPixmap).

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <cstddef>
#include <cstdint>

#include "ui/LocalizedText.h"

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

inline constexpr QSize kButtonPictureSize{70, 22};

// The picture's size in logical pixels; empty for an id the resources do not hold.
QSize PictureSize(std::uint32_t id);

// The picture drawn for `devicePixelRatio`; a null pixmap for an id the resources do not hold.
QPixmap LoadPicture(std::uint32_t id, qreal devicePixelRatio);

// The program icon, listing the sizes window systems ask for (16 to 128 pixels at 1x and 2x,
// and 256). Each size is drawn when it is first asked for, so that making the icon costs
// nothing; copies of the returned icon share what has been drawn.
QIcon ProgramIcon();

// How many pictures this process has drawn from their sources so far.
std::size_t PicturesDrawn();

}  // namespace tarvex
