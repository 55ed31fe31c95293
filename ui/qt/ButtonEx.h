#pragma once
// CButtonEx: a push button that is a picture. It shows one of three pictures: the highlighted
// one while the pointer is over it and it is not held down, the disabled one while it is
// disabled, the normal one otherwise (also while it is held down). No caption, focus frame or
// pressed look is drawn. Its accessible name is the word on its pictures.
//
// Threads: the window's thread only.

#include <QAbstractButton>
#include <QPixmap>
#include <cstdint>

namespace tarvex {

class CButtonEx final : public QAbstractButton {
public:
    enum class Picture { Normal, Highlighted, Disabled };

    explicit CButtonEx(QWidget* parent = nullptr);

    // The three pictures by id (see UiPictures.h). The button takes the normal picture's size.
    void SetBitmaps(std::uint32_t normal, std::uint32_t highlighted, std::uint32_t disabled);

    // The picture the button shows in its present state.
    Picture CurrentPicture() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const QPixmap& PictureFor(Picture picture);
    void ReloadPictures();

    std::uint32_t m_NormalId = 0;
    std::uint32_t m_HighlightedId = 0;
    std::uint32_t m_DisabledId = 0;
    qreal m_PictureRatio = 0;  // the device pixel ratio the pictures were drawn for
    QPixmap m_bmpNormal;
    QPixmap m_bmpHover;
    QPixmap m_bmpDisabled;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

}  // namespace tarvex
