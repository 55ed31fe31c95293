// The prompt's layout: where it goes, its buttons by kind, their pictures and names.

#include "ui/PromptLayout.h"

#include <gtest/gtest.h>

#include <string_view>

#include "tests/ui/UiGeometryPrinting.h"
#include "ui/PromptPlacement.h"

namespace tarvex::testing {
namespace {

TEST(PromptPlacementTest, BelowTheDialogsCornerOrOverACentredDialog) {
    struct Case {
        UiRect MainDialog;
        UiSize Screen;
        UiPoint Expected;
    };
    const Case cases[] = {
        {{200, 150, 400, 300}, {1920, 1080}, {260, 275}},
        {{0, 150, 400, 300}, {1920, 1080}, {820, 515}},
        {{150, 0, 400, 300}, {1920, 1080}, {820, 515}},
        // A dialog larger than the screen: the centred place is negative, truncated to zero.
        {{0, 0, 801, 601}, {800, 600}, {60, 125}},
        {{-40, 30, 400, 300}, {1920, 1080}, {20, 155}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PromptPosition(c.MainDialog, c.Screen), c.Expected)
            << c.MainDialog.Left << "," << c.MainDialog.Top;
    }
}

TEST(PromptLayoutTest, AQuestionHasOkAndCancelAnyOtherPromptOkAloneAtTheRight) {
    struct Expected {
        int ControlId;
        std::uint32_t Picture;
        std::uint32_t HighlightedPicture;
        UiRect Rect;
        std::string_view Name;
    };
    struct Case {
        bool Question;
        std::vector<Expected> Buttons;
    };
    const Case cases[] = {
        {true,
         {{124, 4010, 4012, {60, 90, 70, 22}, "OK"},
          {127, 4013, 4015, {170, 90, 70, 22}, "CANCEL"}}},
        {false, {{124, 4010, 4012, {214, 90, 70, 22}, "OK"}}},
    };
    for (const Case& c : cases) {
        const std::span<const PromptButton> buttons = PromptButtons(c.Question);
        ASSERT_EQ(buttons.size(), c.Buttons.size()) << c.Question;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i].ControlId, c.Buttons[i].ControlId);
            EXPECT_EQ(buttons[i].Picture, c.Buttons[i].Picture);
            EXPECT_EQ(buttons[i].HighlightedPicture, c.Buttons[i].HighlightedPicture);
            EXPECT_EQ(buttons[i].Rect, c.Buttons[i].Rect);
            EXPECT_EQ(buttons[i].Name, c.Buttons[i].Name);
        }
    }
}

TEST(PromptLayoutTest, TheTextAndTheButtonsFitThePanelApartAtThePicturesSize) {
    const UiRect panel{0, 0, kPromptWidth, kPromptHeight};
    EXPECT_TRUE(panel.Contains(kPromptTextRect));
    for (const bool question : {true, false}) {
        for (const PromptButton& button : PromptButtons(question)) {
            EXPECT_TRUE(panel.Contains(button.Rect)) << button.Name;
            EXPECT_FALSE(button.Rect.Intersects(kPromptTextRect)) << button.Name;
            EXPECT_EQ(button.Rect.Size(), kButtonPictureSize) << button.Name;
        }
    }
}

}  // namespace
}  // namespace tarvex::testing
