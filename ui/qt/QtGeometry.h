#pragma once
// ui/'s geometry types to Qt's and back. QRect keeps its own inclusive right and bottom; only
// the corner and the size cross over.

#include <QPoint>
#include <QRect>
#include <QSize>

#include "ui/UiGeometry.h"

namespace tarvex {

constexpr QPoint ToQt(UiPoint point) {
    return {point.X, point.Y};
}

constexpr QSize ToQt(UiSize size) {
    return {size.Width, size.Height};
}

constexpr QRect ToQt(const UiRect& rect) {
    return {rect.Left, rect.Top, rect.Width, rect.Height};
}

constexpr UiSize FromQt(const QSize& size) {
    return {size.width(), size.height()};
}

constexpr UiRect FromQt(const QRect& rect) {
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

}  // namespace tarvex
