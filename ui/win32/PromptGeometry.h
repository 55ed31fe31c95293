#pragma once
// Where the prompt goes and where its buttons sit, in pixels. Pure.

#include <windows.h>

namespace tarvex {

inline constexpr int kPromptWidth = 300;
inline constexpr int kPromptHeight = 127;

// 60 pixels right of and 125 below the main dialog's top-left corner; when that corner is at 0
// on either axis (a window not placed yet, or whose place could not be read), over where a
// dialog of the same size centred on the primary screen would be. Division truncates towards
// zero, also for a dialog larger than the screen.
constexpr POINT PromptPosition(const RECT& mainDialog, int screenWidth, int screenHeight) {
    if (mainDialog.left != 0 && mainDialog.top != 0) {
        return POINT{mainDialog.left + 60, mainDialog.top + 125};
    }
    const int centredX = (screenWidth - (mainDialog.right - mainDialog.left)) / 2;
    const int centredY = (screenHeight - (mainDialog.bottom - mainDialog.top)) / 2;
    return POINT{centredX + 60, centredY + 125};
}

// The buttons in the prompt's client pixels, 70 x 22 each, the size of their pictures.
inline constexpr RECT kQuestionOkRect{60, 90, 130, 112};
inline constexpr RECT kQuestionCancelRect{170, 90, 240, 112};
inline constexpr RECT kNoticeOkRect{214, 90, 284, 112};

// The text's area: inside the background's frame (inset 10 pixels) and above the buttons.
inline constexpr RECT kPromptTextArea{14, 14, 286, 88};

}  // namespace tarvex
