#pragma once
// The program's pictures: the prompt's button pictures and background, and the program icon.
// Their sources are SVG files in the program's resources, drawn at the size each picture has
// and at the device pixel ratio of the screen it goes to, so they stay sharp at any scale.
//
// Threads: the window's thread only (QPixmap).

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <cstdint>

#include "ui/PictureIds.h"

namespace tarvex {

// The picture's size in logical pixels; empty for an id the resources do not hold.
QSize PictureSize(std::uint32_t id);

// The picture drawn for `devicePixelRatio`; a null pixmap for an id the resources do not hold.
QPixmap LoadPicture(std::uint32_t id, qreal devicePixelRatio);

// The program icon in the sizes window systems ask for, each drawn at 1x and 2x.
QIcon ProgramIcon();

}  // namespace tarvex
