#pragma once
// Moves a window by a left-button drag on its surface. The window system is asked to move it
// (QWindow::startSystemMove), as a drag on its title bar would; where the window system refuses
// (an X server without a window manager, the offscreen platform), the window follows the
// pointer's displacement from the press until the release. A press and release without a move
// in between leaves the window where it was.
//
// Threads: the window's thread only. The window forwards its own mouse handlers here.

#include <QPoint>

class QMouseEvent;
class QWidget;

namespace tarvex {

class CWindowDragger {
public:
    explicit CWindowDragger(QWidget& window);

    // Each returns whether it took the event (it accepts it then).
    bool Press(QMouseEvent& event);
    bool Move(QMouseEvent& event);
    bool Release(QMouseEvent& event);

    bool Following() const { return m_bFollowing; }

private:
    QWidget& m_Window;
    bool m_bFollowing = false;
    QPoint m_PressPointer;  // global position of the pointer at the press
    QPoint m_PressWindow;   // the window's position at the press
};

}  // namespace tarvex
