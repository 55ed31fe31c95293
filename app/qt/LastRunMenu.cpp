#include "app/qt/LastRunMenu.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include "ui/LocalizedText.h"

namespace tarvex {

CLastRunMenu::CLastRunMenu(QWidget& dialog, const CUiLanguage& language,
                           std::function<std::string()> lastRunText)
    : QObject(&dialog),
      m_Dialog(dialog),
      m_Language(language),
      m_LastRunText(std::move(lastRunText)) {
    // The controls pass a context-menu request they do not take on to the dialog, so a right
    // press anywhere on its surface comes here.
    m_Dialog.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_Dialog, &QWidget::customContextMenuRequested, this, &CLastRunMenu::Open);
}

void CLastRunMenu::Open(const QPoint& position) {
    if (m_pMenu == nullptr) {
        m_pMenu = new QMenu(&m_Dialog);
        QAction* copy = m_pMenu->addAction(QString());
        connect(copy, &QAction::triggered, this,
                [this] { QGuiApplication::clipboard()->setText(QString::fromStdString(m_Text)); });
    }
    m_Text = m_LastRunText();
    QAction* copy = m_pMenu->actions().front();
    copy->setText(QString::fromStdString(LoadLocalizedString(kTextCopyLastRun, m_Language)));
    copy->setEnabled(!m_Text.empty());
    m_pMenu->popup(m_Dialog.mapToGlobal(position));
}

}  // namespace tarvex
