#pragma once
// The dialog font's base units measured with Qt's font metrics.

#include "ui/DialogLayout.h"

class QFontMetrics;

namespace tarvex {

DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics);

}  // namespace tarvex
