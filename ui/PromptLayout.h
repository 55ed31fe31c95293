#pragma once
// The program's own prompt as every window lays it out: a 300 x 127 panel in client pixels
// (its picture is its frame, so it does not scale with the dialog font), the text above one or
// two picture buttons of 70 x 22, and the ids its controls and pictures carry. Pure.

#include <cstdint>
#include <span>

#include "ui/PictureIds.h"
#include "ui/UiGeometry.h"

namespace tarvex {

inline constexpr int kPromptTextControl = 114;
inline constexpr int kPromptOkControl = 124;
inline constexpr int kPromptCancelControl = 127;
inline constexpr int kPromptCancelCommand = 128;  // a command that ends the prompt as CANCEL
inline constexpr int kPromptWidth = 300;
inline constexpr int kPromptHeight = 127;

// The text sits inside the background's frame (inset 10 pixels) and above the buttons.
inline constexpr UiRect kPromptTextRect{14, 14, 272, 74};

struct PromptButton {
    int ControlId = 0;
    std::uint32_t Picture = 0;             // under no pointer, pressed or disabled
    std::uint32_t HighlightedPicture = 0;  // under the pointer
    UiRect Rect;                           // client pixels, the size of the pictures
    const char* Name = "";                 // what screen readers read: the word on the picture
};

// The buttons of a question (OK and CANCEL) or of any other prompt (OK alone, at the right),
// OK first.
std::span<const PromptButton> PromptButtons(bool question);

}  // namespace tarvex
