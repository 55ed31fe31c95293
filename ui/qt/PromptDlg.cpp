#include "ui/qt/PromptDlg.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>

#include "ui/PromptModes.h"
#include "ui/qt/ButtonEx.h"
#include "ui/qt/QtGeometry.h"
#include "ui/qt/UiFonts.h"
#include "ui/qt/UiPictures.h"

namespace tarvex {

namespace {

constexpr const char* kControlIdProperty = "tarvexControlId";
const QColor kPromptRed(141, 22, 30);

// The smallest pixel size a long text is shrunk to so that it fits the panel.
constexpr int kSmallestTextPixelSize = 10;

// The prompt's font, made smaller until `text` fits `area` with its lines wrapped.
QFont FittingFont(QFont font, const QString& text, const QRect& area) {
    for (int size = font.pixelSize(); size > kSmallestTextPixelSize; --size) {
        font.setPixelSize(size);
        const QRect needed =
            QFontMetrics(font).boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, text);
        if (needed.height() <= area.height() && needed.width() <= area.width()) {
            break;
        }
    }
    return font;
}

}  // namespace

int ControlId(const QWidget& widget) {
    return widget.property(kControlIdProperty).toInt();
}

void SetControlId(QWidget& widget, int id) {
    widget.setProperty(kControlIdProperty, id);
}

CPromptDlg::CPromptDlg(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(kPromptWidth, kPromptHeight);
    setFont(PromptFont());

    m_pText = new QLabel(this);
    SetControlId(*m_pText, kPromptTextControl);
    m_pText->setGeometry(ToQt(kPromptTextRect));
    m_pText->setTextFormat(Qt::PlainText);
    m_pText->setWordWrap(true);
    m_pText->setAlignment(Qt::AlignCenter);
    m_pText->setAutoFillBackground(true);
    QPalette palette = m_pText->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Window, kPromptRed);
    m_pText->setPalette(palette);
}

void CPromptDlg::SetPosition(int x, int y) {
    m_X = x;
    m_Y = y;
}

void CPromptDlg::SetText(const QString& text) {
    m_Text = text;
}

void CPromptDlg::SetMode(int mode) {
    m_Mode = mode;
}

void CPromptDlg::showEvent(QShowEvent* event) {
    // What the window needs before it first appears: place and size, buttons, text.
    if (!m_bButtonsCreated) {
        setGeometry(m_X, m_Y, kPromptWidth, kPromptHeight);
        CreateButtons();
        m_pText->setFont(FittingFont(PromptFont(), m_Text, m_pText->rect()));
        m_pText->setText(m_Text);
        m_bButtonsCreated = true;
    }
    QDialog::showEvent(event);
}

CButtonEx* CPromptDlg::CreateButton(const PromptButton& layout) {
    auto* button = new CButtonEx(this);
    button->SetBitmaps(layout.Picture, layout.HighlightedPicture, layout.Picture);
    SetControlId(*button, layout.ControlId);
    button->setGeometry(ToQt(layout.Rect));
    button->setAccessibleName(QString::fromLatin1(layout.Name));
    const int controlId = layout.ControlId;
    connect(button, &CButtonEx::clicked, this, [this, controlId] { OnCommand(controlId); });
    button->show();
    return button;
}

void CPromptDlg::CreateButtons() {
    for (const PromptButton& layout : PromptButtons(m_Mode == kPromptQuestion)) {
        CButtonEx* button = CreateButton(layout);
        if (layout.ControlId == kPromptOkControl) {
            m_pOkButton = button;
        } else {
            m_pCancelButton = button;
        }
    }
    m_pOkButton->setFocus();
}

void CPromptDlg::OnCommand(int controlId) {
    switch (controlId) {
        case kPromptOkControl:
            done(kPromptOk);
            break;
        case kPromptCancelControl:
        case kPromptCancelCommand:
            done(kPromptCancel);
            break;
        default:
            break;
    }
}

void CPromptDlg::reject() {
    // Escape and the close request end the prompt as its CANCEL does.
    done(kPromptCancel);
}

void CPromptDlg::paintEvent(QPaintEvent*) {
    if (m_Background.isNull() || m_Background.devicePixelRatio() != devicePixelRatioF()) {
        m_Background = LoadPicture(kPicturePromptBackground, devicePixelRatioF());
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_Background);
}

void CPromptDlg::mousePressEvent(QMouseEvent* event) {
    if (!m_Dragger.Press(*event)) {
        QDialog::mousePressEvent(event);
    }
}

void CPromptDlg::mouseMoveEvent(QMouseEvent* event) {
    if (!m_Dragger.Move(*event)) {
        QDialog::mouseMoveEvent(event);
    }
}

void CPromptDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_Dragger.Release(*event)) {
        QDialog::mouseReleaseEvent(event);
    }
}

}  // namespace tarvex
