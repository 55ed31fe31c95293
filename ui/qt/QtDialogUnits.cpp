#include "ui/qt/QtDialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace tarvex {

DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics) {
    return BaseUnitsFromLetters(
        metrics.horizontalAdvance(QString::fromLatin1(
            kBaseUnitLetters.data(), static_cast<qsizetype>(kBaseUnitLetters.size()))),
        metrics.height());
}

}  // namespace tarvex
