#include "ui/qt/QtKeys.h"

#include <Qt>

#include "ui/DialogKeys.h"

namespace tarvex {

int VirtualKeyOf(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return kVirtualKeyTab;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kVirtualKeyReturn;
        case Qt::Key_Alt:
            return kVirtualKeyAlt;
        case Qt::Key_Escape:
            return kVirtualKeyEscape;
        case Qt::Key_Left:
            return kVirtualKeyLeft;
        case Qt::Key_Up:
            return kVirtualKeyUp;
        case Qt::Key_Right:
            return kVirtualKeyRight;
        case Qt::Key_Down:
            return kVirtualKeyDown;
        case Qt::Key_F1:
            return kVirtualKeyF1;
        default:
            return 0;
    }
}

}  // namespace tarvex
