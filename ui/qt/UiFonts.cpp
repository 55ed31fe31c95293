#include "ui/qt/UiFonts.h"

#include <QFontMetrics>
#include <QStringList>

namespace tarvex {

namespace {

// The faces named by the window's design first, then what Debian's font packages offer in
// their place: Liberation Sans has Arial's metrics; the CJK faces carry the Chinese texts.
const QStringList& CjkFallbacks() {
    static const QStringList families{QStringLiteral("WenQuanYi Micro Hei"),
                                      QStringLiteral("Noto Sans CJK SC"),
                                      QStringLiteral("Noto Sans SC")};
    return families;
}

QStringList Families(const QStringList& named) {
    QStringList families = named;
    families.append(CjkFallbacks());
    return families;
}

constexpr int kInstructionCellHeight = 15;
constexpr int kPromptCellHeight = 16;

// A pixel size whose character cell is at most `cellHeight` pixels: the cell height that the
// design names includes the font's internal leading, a Qt pixel size does not.
QFont WithCellHeight(QFont font, int cellHeight) {
    for (int pixelSize = cellHeight; pixelSize > 1; --pixelSize) {
        font.setPixelSize(pixelSize);
        if (QFontMetrics(font).height() <= cellHeight) {
            break;
        }
    }
    return font;
}

QFont ArialLike() {
    QFont font;
    font.setFamilies(Families(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")}));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

QFont DialogFont() {
    QFont font;
    font.setFamilies(Families({QStringLiteral("SimSun"), QStringLiteral("NSimSun")}));
    font.setPointSize(9);
    return font;
}

QFont InstructionFont() {
    return WithCellHeight(ArialLike(), kInstructionCellHeight);
}

QFont PromptFont() {
    return WithCellHeight(ArialLike(), kPromptCellHeight);
}

}  // namespace tarvex
