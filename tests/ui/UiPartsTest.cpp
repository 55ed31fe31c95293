// ui/'s smaller pieces: rectangles, the file filter, the keys the main dialog swallows.

#include <gtest/gtest.h>

#include "tests/ui/UiGeometryPrinting.h"
#include "ui/DialogKeys.h"
#include "ui/FileFilter.h"
#include "ui/UiGeometry.h"

namespace tarvex::testing {
namespace {

TEST(UiGeometryTest, ContainsAndIntersectsCountPixelsNotEdges) {
    const UiRect outer{10, 10, 20, 20};  // pixels 10..29
    struct Case {
        UiRect Other;
        bool Contained;
        bool Intersecting;
    };
    const Case cases[] = {
        {{10, 10, 20, 20}, true, true},  // itself
        {{29, 29, 1, 1}, true, true},    // its last pixel
        {{29, 29, 2, 1}, false, true},   // one column past the right
        {{30, 10, 5, 5}, false, false},  // touches the right edge
        {{10, 0, 5, 10}, false, false},  // touches the top edge
        {{5, 5, 6, 6}, false, true},     // overlaps the corner
        {{15, 15, 0, 5}, false, false},  // empty
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outer.Contains(c.Other), c.Contained) << ::testing::PrintToString(c.Other);
        EXPECT_EQ(outer.Intersects(c.Other), c.Intersecting) << ::testing::PrintToString(c.Other);
        EXPECT_EQ(c.Other.Intersects(outer), c.Intersecting) << ::testing::PrintToString(c.Other);
    }
    EXPECT_EQ(outer.Right(), 30);
    EXPECT_EQ(outer.Bottom(), 30);
}

TEST(FileFilterTest, BarListsSplitIntoDescriptionsAndPatterns) {
    struct Case {
        std::string BarList;
        std::vector<std::pair<std::string, std::string>> Expected;
    };
    const Case cases[] = {
        {"File type(*.dat)|*.dat||", {{"File type(*.dat)", "*.dat"}}},
        {"文件类型中显示的内容(*.dat)|*.dat||", {{"文件类型中显示的内容(*.dat)", "*.dat"}}},
        {"Images|*.dat;*.bin||", {{"Images", "*.dat;*.bin"}}},
        {"A(*.a)|*.a|B|*.b||", {{"A(*.a)", "*.a"}, {"B", "*.b"}}},
        {"A|*.a||B|*.b||", {{"A", "*.a"}}},  // nothing after the empty entry counts
        {"A|*.a", {{"A", "*.a"}}},           // no closing bars
        {"", {}},
        {"no pattern", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> got;
        for (const FileFilterEntry& entry : ParseFileFilter(c.BarList)) {
            got.emplace_back(entry.Description, entry.Patterns);
        }
        EXPECT_EQ(got, c.Expected) << c.BarList;
    }
}

TEST(DialogKeysTest, TheMainDialogSwallowsItsNavigationKeysAndNoOthers) {
    for (const int key : {0x09, 0x0D, 0x12, 0x1B, 0x25, 0x26, 0x27, 0x28, 0x70}) {
        EXPECT_TRUE(IsSwallowedByMainDialog(key)) << key;
    }
    // Space, letters, F2, Shift, Control, Delete, Page Down: a window's normal business.
    for (const int key : {0x20, 0x41, 0x5A, 0x71, 0x10, 0x11, 0x2E, 0x22, 0}) {
        EXPECT_FALSE(IsSwallowedByMainDialog(key)) << key;
    }
}

}  // namespace
}  // namespace tarvex::testing
