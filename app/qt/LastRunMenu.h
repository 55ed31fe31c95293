#pragma once
// The dialog's context menu: a right-button press on the dialog's surface opens it; its one
// entry (text 60) copies the last run's record, as readable text, to the clipboard. The entry
// is disabled while there is no record. The left button is left to the dialog (it drags).
//
// Threads: the window's thread only.

#include <QObject>
#include <functional>
#include <string>

#include "platform/UiLanguage.h"

class QMenu;
class QWidget;

namespace tarvex {

class CLastRunMenu final : public QObject {
public:
    // `lastRunText` gives the text to copy (empty: nothing to copy); asked each time the menu
    // opens. Owned by `dialog`, which must outlive nothing here.
    CLastRunMenu(QWidget& dialog, const CUiLanguage& language,
                 std::function<std::string()> lastRunText);

    // The menu, while it is open (or after); null before it was first opened.
    QMenu* Menu() const { return m_pMenu; }

private:
    void Open(const QPoint& position);

    QWidget& m_Dialog;
    const CUiLanguage& m_Language;
    std::function<std::string()> m_LastRunText;
    QMenu* m_pMenu = nullptr;  // owned by the dialog
    std::string m_Text;        // what the entry copies, read when the menu opened
};

}  // namespace tarvex
