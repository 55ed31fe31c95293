#pragma once
// Where the prompt goes: 60 pixels right of and 125 pixels below the main dialog's top-left
// corner; when that corner is at 0 on either axis (a window the window system has not placed,
// or one whose position could not be read), over where a dialog of the same size centred on
// the primary screen would be. Pure.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tarvex {

inline constexpr QPoint kPromptOffset{60, 125};

constexpr QPoint PromptPosition(const QRect& mainDialog, const QSize& primaryScreen) {
    if (mainDialog.left() != 0 && mainDialog.top() != 0) {
        return mainDialog.topLeft() + kPromptOffset;
    }
    // Integer division truncates towards zero, also for a dialog larger than the screen.
    const int centredX = (primaryScreen.width() - mainDialog.width()) / 2;
    const int centredY = (primaryScreen.height() - mainDialog.height()) / 2;
    return QPoint(centredX, centredY) + kPromptOffset;
}

}  // namespace tarvex
