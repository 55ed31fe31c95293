#pragma once
// Where the prompt goes: 60 pixels right of and 125 pixels below the main dialog's top-left
// corner; when that corner is at 0 on either axis (a window the window system has not placed,
// or one whose position could not be read), over where a dialog of the same size centred on
// the primary screen would be. Pure.

#include "ui/UiGeometry.h"

namespace tarvex {

inline constexpr UiPoint kPromptOffset{60, 125};

// `mainDialog` is the main dialog's frame in screen pixels.
constexpr UiPoint PromptPosition(const UiRect& mainDialog, const UiSize& primaryScreen) {
    if (mainDialog.Left != 0 && mainDialog.Top != 0) {
        return mainDialog.TopLeft() + kPromptOffset;
    }
    // Integer division truncates towards zero, also for a dialog larger than the screen.
    const int centredX = (primaryScreen.Width - mainDialog.Width) / 2;
    const int centredY = (primaryScreen.Height - mainDialog.Height) / 2;
    return UiPoint{centredX, centredY} + kPromptOffset;
}

}  // namespace tarvex
