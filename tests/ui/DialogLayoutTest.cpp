// The main dialog's layout: base units from the font's figures, dialog units to pixels, the
// controls inside the window and apart.

#include "ui/DialogLayout.h"

#include <gtest/gtest.h>

#include "tests/ui/UiGeometryPrinting.h"

namespace tarvex::testing {
namespace {

TEST(MainDialogLayoutTest, BaseUnitsRoundTheAverageLetterWidthToTheNearestPixel) {
    struct Case {
        int LettersWidth;
        int LineHeight;
        DialogBaseUnits Expected;
    };
    const Case cases[] = {
        {52 * 6, 13, {6, 13}},       // exactly 6 per letter
        {52 * 6 + 25, 13, {6, 13}},  // 6.48: down
        {52 * 6 + 26, 13, {7, 13}},  // 6.5: halves go up
        {52 * 7 - 1, 16, {7, 16}},   // 6.98: up
        {0, 0, {0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BaseUnitsFromLetters(c.LettersWidth, c.LineHeight), c.Expected) << c.LettersWidth;
    }
    EXPECT_EQ(kBaseUnitLetters.size(), 52U);
}

TEST(MainDialogLayoutTest, DialogUnitsBecomePixelsWithTheFontsBaseUnits) {
    struct Case {
        UiRect Units;
        DialogBaseUnits Base;
        UiRect Pixels;
    };
    const Case cases[] = {
        {{7, 7, 237, 14}, {6, 12}, {11, 11, 355, 21}},
        {{83, 117, 85, 12}, {6, 12}, {125, 176, 127, 18}},
        {{0, 0, 251, 162}, {7, 16}, {0, 0, 439, 324}},
        // Each edge is rounded on its own, halves away from zero: 1 unit at 6 is 1.5 pixels.
        {{1, 1, 1, 1}, {6, 12}, {2, 2, 1, 1}},
        {{-1, -1, 2, 2}, {6, 12}, {-2, -2, 4, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DialogUnitsToPixels(c.Units, c.Base), c.Pixels);
    }
}

TEST(MainDialogLayoutTest, TheDialogIsDesignedInDialogUnits) {
    const MainDialogLayout units = MainDialogUnits();
    EXPECT_EQ(units.Client, (UiSize{251, 162}));
    EXPECT_EQ(units.Progress, (UiRect{7, 7, 237, 14}));
    EXPECT_EQ(units.InstructionText, (UiRect{7, 23, 237, 82}));
    EXPECT_EQ(units.VersionText, (UiRect{83, 117, 85, 12}));
    EXPECT_EQ(units.UpdateButton, (UiRect{7, 133, 237, 22}));
}

TEST(MainDialogLayoutTest, TheControlsStayInsideTheWindowAndApart) {
    for (const DialogBaseUnits base : {DialogBaseUnits{6, 12}, DialogBaseUnits{7, 16}}) {
        const MainDialogLayout layout = MainDialogPixels(base);
        const UiRect client{0, 0, layout.Client.Width, layout.Client.Height};
        const UiRect controls[] = {layout.Progress, layout.InstructionText, layout.VersionText,
                                   layout.UpdateButton};
        for (const UiRect& control : controls) {
            EXPECT_TRUE(client.Contains(control));
            for (const UiRect& other : controls) {
                EXPECT_TRUE(&control == &other || !control.Intersects(other));
            }
        }
    }
}

}  // namespace
}  // namespace tarvex::testing
