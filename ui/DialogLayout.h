#pragma once
// The main dialog's layout, kept in dialog units as the dialog was designed and turned into
// pixels with the dialog font's own metrics: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its character height, so the window
// keeps its proportions whatever face stands in for the dialog font. Pure: each window measures
// its font with its own toolkit and hands the figures in.

#include <string_view>

#include "ui/UiGeometry.h"

namespace tarvex {

// Control ids of the main dialog.
inline constexpr int kVersionTextControl = 116;
inline constexpr int kInstructionTextControl = 115;
inline constexpr int kProgressControl = 119;
inline constexpr int kUpdateButtonControl = 123;

struct DialogBaseUnits {
    int Width = 0;   // pixels per 4 horizontal dialog units
    int Height = 0;  // pixels per 8 vertical dialog units

    friend constexpr bool operator==(const DialogBaseUnits&, const DialogBaseUnits&) = default;
};

// The letters whose average width is the font's character width.
inline constexpr std::string_view kBaseUnitLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// From the width of kBaseUnitLetters written in the dialog font and the font's line height:
// the average letter width rounded to the nearest pixel (halves up), and the line height.
DialogBaseUnits BaseUnitsFromLetters(int lettersWidth, int lineHeight);

// Dialog units to pixels, each edge rounded to the nearest pixel.
UiRect DialogUnitsToPixels(const UiRect& units, DialogBaseUnits base);

struct MainDialogLayout {
    UiSize Client;
    UiRect VersionText;
    UiRect InstructionText;
    UiRect Progress;
    UiRect UpdateButton;
};

// The dialog's client area and controls in dialog units. The instruction text was designed
// wider than the dialog; it is cut at the right margin the other controls keep.
MainDialogLayout MainDialogUnits();

MainDialogLayout MainDialogPixels(DialogBaseUnits base);

}  // namespace tarvex
