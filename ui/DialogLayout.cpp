#include "ui/DialogLayout.h"

#include <QFontMetrics>
#include <QString>
#include <algorithm>

namespace tarvex {

namespace {

constexpr QSize kClientUnits{251, 162};
constexpr int kMarginUnits = 7;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRounded(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics) {
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base) {
    const int left = MulDivRounded(units.left(), base.Width, 4);
    const int top = MulDivRounded(units.top(), base.Height, 8);
    const int right = MulDivRounded(units.left() + units.width(), base.Width, 4);
    const int bottom = MulDivRounded(units.top() + units.height(), base.Height, 8);
    return {left, top, right - left, bottom - top};
}

MainDialogLayout MainDialogUnits() {
    MainDialogLayout layout;
    layout.Client = kClientUnits;
    layout.VersionText = QRect(83, 117, 85, 12);
    const int instructionWidth = std::min(259, kClientUnits.width() - 2 * kMarginUnits);
    layout.InstructionText = QRect(7, 23, instructionWidth, 82);
    layout.Progress = QRect(7, 7, 237, 14);
    layout.UpdateButton = QRect(7, 133, 237, 22);
    return layout;
}

MainDialogLayout MainDialogPixels(DialogBaseUnits base) {
    const MainDialogLayout units = MainDialogUnits();
    MainDialogLayout pixels;
    pixels.Client = DialogUnitsToPixels(QRect(QPoint(0, 0), units.Client), base).size();
    pixels.VersionText = DialogUnitsToPixels(units.VersionText, base);
    pixels.InstructionText = DialogUnitsToPixels(units.InstructionText, base);
    pixels.Progress = DialogUnitsToPixels(units.Progress, base);
    pixels.UpdateButton = DialogUnitsToPixels(units.UpdateButton, base);
    return pixels;
}

}  // namespace tarvex
