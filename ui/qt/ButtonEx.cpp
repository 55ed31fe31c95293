#include "ui/qt/ButtonEx.h"

#include <QEvent>
#include <QPainter>

#include "ui/qt/UiPictures.h"

namespace tarvex {

CButtonEx::CButtonEx(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    // The pointer's arrival and departure must reach the button even without a button held.
    setAttribute(Qt::WA_Hover);
}

void CButtonEx::SetBitmaps(std::uint32_t normal, std::uint32_t highlighted,
                           std::uint32_t disabled) {
    m_NormalId = normal;
    m_HighlightedId = highlighted;
    m_DisabledId = disabled;
    const QSize size = PictureSize(normal);
    m_nWidth = size.width();
    m_nHeight = size.height();
    m_PictureRatio = 0;
    setFixedSize(size);
    update();
}

CButtonEx::Picture CButtonEx::CurrentPicture() const {
    if (!isEnabled()) {
        return Picture::Disabled;
    }
    if (isDown()) {
        return Picture::Normal;
    }
    return underMouse() ? Picture::Highlighted : Picture::Normal;
}

QSize CButtonEx::sizeHint() const {
    return {m_nWidth, m_nHeight};
}

void CButtonEx::ReloadPictures() {
    m_PictureRatio = devicePixelRatioF();
    m_bmpNormal = LoadPicture(m_NormalId, m_PictureRatio);
    m_bmpHover = LoadPicture(m_HighlightedId, m_PictureRatio);
    m_bmpDisabled = LoadPicture(m_DisabledId, m_PictureRatio);
}

const QPixmap& CButtonEx::PictureFor(Picture picture) {
    // Drawn lazily for the screen the button is on, and again when it moves to another scale.
    if (m_PictureRatio != devicePixelRatioF()) {
        ReloadPictures();
    }
    switch (picture) {
        case Picture::Disabled:
            return m_bmpDisabled;
        case Picture::Highlighted:
            return m_bmpHover;
        case Picture::Normal:
            break;
    }
    return m_bmpNormal;
}

void CButtonEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, PictureFor(CurrentPicture()));
}

void CButtonEx::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void CButtonEx::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

void CButtonEx::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        update();
    }
}

}  // namespace tarvex
