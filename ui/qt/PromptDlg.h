#pragma once
// CPromptDlg: the program's own prompt, a 300 x 127 panel with a white text on dark red and one
// or two picture buttons. Mode kPromptQuestion shows OK (control 124) and CANCEL (127); any
// other mode shows OK alone. It ends with kPromptOk for OK, kPromptCancel for CANCEL, Escape,
// the window system's close request or a command from control 128. It has no frame of its own:
// its picture is its frame, and it is moved by dragging its surface.
//
// Threads: the window's thread only. Its owner (the main dialog) takes no input while it is
// open, and window systems keep it above its owner.

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <cstdint>

#include "ui/PromptLayout.h"
#include "ui/qt/WindowDragger.h"

class QLabel;

namespace tarvex {

class CButtonEx;

// The control id a widget of the prompt or of the main dialog carries (0 when none).
int ControlId(const QWidget& widget);
void SetControlId(QWidget& widget, int id);

class CPromptDlg final : public QDialog {
public:
    // `owner` stays blocked while the prompt is open; the prompt is a window of its own.
    explicit CPromptDlg(QWidget* owner);

    void SetPosition(int x, int y);
    void SetText(const QString& text);
    void SetMode(int mode);

    // A command from one of the prompt's controls, as its buttons send it.
    void OnCommand(int controlId);

    CButtonEx* OkButton() const { return m_pOkButton; }
    CButtonEx* CancelButton() const { return m_pCancelButton; }
    QLabel* TextControl() const { return m_pText; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void CreateButtons();
    CButtonEx* CreateButton(const PromptButton& layout);

    CButtonEx* m_pOkButton = nullptr;      // owned by the prompt, as its child
    CButtonEx* m_pCancelButton = nullptr;  // created in question mode only
    QLabel* m_pText = nullptr;
    QPixmap m_Background;  // picture 134, drawn for the screen's scale
    int m_X = 0;
    int m_Y = 0;
    QString m_Text;
    int m_Mode = 0;
    bool m_bButtonsCreated = false;
    CWindowDragger m_Dragger{*this};
};

}  // namespace tarvex
