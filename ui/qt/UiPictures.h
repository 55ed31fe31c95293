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

#include "ui/PictureIds.h"

namespace tarvex {

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
