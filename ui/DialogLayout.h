#pragma once
// The main dialog's layout, kept in dialog units as the dialog was designed and turned into
// pixels with the dialog font's own metrics: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its character height, so the window
// keeps its proportions whatever face stands in for the dialog font.

#include <QRect>
#include <QSize>

class QFontMetrics;

namespace tarvex {

// Control ids of the main dialog.
inline constexpr int kVersionTextControl = 116;
inline constexpr int kInstructionTextControl = 115;
inline constexpr int kProgressControl = 119;
inline constexpr int kUpdateButtonControl = 123;

struct DialogBaseUnits {
    int Width = 0;   // pixels per 4 horizontal dialog units
    int Height = 0;  // pixels per 8 vertical dialog units
};

// Average width of the 52 Latin letters, rounded to the nearest pixel, and the line height.
DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics);

// Dialog units to pixels, each coordinate rounded to the nearest pixel.
QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base);

struct MainDialogLayout {
    QSize Client;
    QRect VersionText;
    QRect InstructionText;
    QRect Progress;
    QRect UpdateButton;
};

// The dialog's client area and controls in dialog units. The instruction text was designed
// wider than the dialog; it is cut at the right margin the other controls keep.
MainDialogLayout MainDialogUnits();

MainDialogLayout MainDialogPixels(DialogBaseUnits base);

}  // namespace tarvex
