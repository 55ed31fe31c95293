#include "ui/DialogLayout.h"

#include <algorithm>

namespace tarvex {

namespace {

constexpr UiSize kClientUnits{251, 162};
constexpr int kMarginUnits = 7;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRounded(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogBaseUnits BaseUnitsFromLetters(int lettersWidth, int lineHeight) {
    return {(lettersWidth / 26 + 1) / 2, lineHeight};
}

UiRect DialogUnitsToPixels(const UiRect& units, DialogBaseUnits base) {
    const int left = MulDivRounded(units.Left, base.Width, 4);
    const int top = MulDivRounded(units.Top, base.Height, 8);
    const int right = MulDivRounded(units.Right(), base.Width, 4);
    const int bottom = MulDivRounded(units.Bottom(), base.Height, 8);
    return {left, top, right - left, bottom - top};
}

MainDialogLayout MainDialogUnits() {
    MainDialogLayout layout;
    layout.Client = kClientUnits;
    layout.VersionText = UiRect{83, 117, 85, 12};
    const int instructionWidth = std::min(259, kClientUnits.Width - 2 * kMarginUnits);
    layout.InstructionText = UiRect{7, 23, instructionWidth, 82};
    layout.Progress = UiRect{7, 7, 237, 14};
    layout.UpdateButton = UiRect{7, 133, 237, 22};
    return layout;
}

MainDialogLayout MainDialogPixels(DialogBaseUnits base) {
    const MainDialogLayout units = MainDialogUnits();
    MainDialogLayout pixels;
    pixels.Client =
        DialogUnitsToPixels(UiRect{0, 0, units.Client.Width, units.Client.Height}, base).Size();
    pixels.VersionText = DialogUnitsToPixels(units.VersionText, base);
    pixels.InstructionText = DialogUnitsToPixels(units.InstructionText, base);
    pixels.Progress = DialogUnitsToPixels(units.Progress, base);
    pixels.UpdateButton = DialogUnitsToPixels(units.UpdateButton, base);
    return pixels;
}

}  // namespace tarvex
