#include "ui/qt/WindowDragger.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace tarvex {

CWindowDragger::CWindowDragger(QWidget& window) : m_Window(window) {}

bool CWindowDragger::Press(QMouseEvent& event) {
    if (event.button() != Qt::LeftButton) {
        return false;
    }
    event.accept();
    QWindow* handle = m_Window.window()->windowHandle();
    if (handle != nullptr && handle->startSystemMove()) {
        // The window system moves the window from here on and keeps the pointer to itself.
        m_bFollowing = false;
        return true;
    }
    m_bFollowing = true;
    m_PressPointer = event.globalPosition().toPoint();
    m_PressWindow = m_Window.window()->pos();
    return true;
}

bool CWindowDragger::Move(QMouseEvent& event) {
    if (!m_bFollowing) {
        return false;
    }
    if (!(event.buttons() & Qt::LeftButton)) {
        // The release went elsewhere (a grab elsewhere, a window that lost the pointer).
        m_bFollowing = false;
        return false;
    }
    event.accept();
    const QPoint target = m_PressWindow + (event.globalPosition().toPoint() - m_PressPointer);
    if (m_Window.window()->pos() != target) {
        m_Window.window()->move(target);
    }
    return true;
}

bool CWindowDragger::Release(QMouseEvent& event) {
    if (!m_bFollowing || event.button() != Qt::LeftButton) {
        return false;
    }
    event.accept();
    m_bFollowing = false;
    return true;
}

}  // namespace tarvex
