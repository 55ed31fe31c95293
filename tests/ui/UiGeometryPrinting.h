#pragma once
// GoogleTest's printers for ui/'s geometry, so that a failed comparison shows the figures.

#include <ostream>

#include "ui/UiGeometry.h"

namespace tarvex {

inline void PrintTo(const UiPoint& point, std::ostream* out) {
    *out << "(" << point.X << ", " << point.Y << ")";
}

inline void PrintTo(const UiSize& size, std::ostream* out) {
    *out << size.Width << " x " << size.Height;
}

inline void PrintTo(const UiRect& rect, std::ostream* out) {
    *out << "(" << rect.Left << ", " << rect.Top << ") " << rect.Width << " x " << rect.Height;
}

}  // namespace tarvex
