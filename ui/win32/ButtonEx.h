#pragma once
// CButtonEx: an owner-drawn push button that is a picture. It shows the highlighted picture
// while the pointer is over it (it takes the mouse capture to notice the pointer leaving), the
// normal one otherwise and while it is held down, the disabled one while it is disabled. Nothing
// else is painted: no caption, focus frame or pressed look. Its window text (the word on its
// pictures) is not drawn; screen readers read it through the standard accessibility interfaces.
//
// Threads: the thread that created its window. The owner forwards WM_DRAWITEM to DrawItem.

#include <windows.h>

#include <string>

namespace tarvex {

class CButtonEx {
public:
    enum class Picture { Normal, Highlighted, Disabled };

    CButtonEx() = default;
    ~CButtonEx();
    CButtonEx(const CButtonEx&) = delete;
    CButtonEx& operator=(const CButtonEx&) = delete;

    // The three pictures by bitmap resource id, before Create. The button takes the normal
    // picture's size. False when a picture is missing from the program's resources.
    bool SetBitmaps(UINT normal, UINT highlighted, UINT disabled);

    // A child button of `parent` with the control id and the rectangle in the parent's client
    // pixels. False when the window cannot be made.
    bool Create(HWND parent, int controlId, const RECT& rect, const std::wstring& accessibleName);

    void DrawItem(const DRAWITEMSTRUCT& item);

    HWND Window() const { return m_hWnd; }
    // The picture the button shows in its present state.
    Picture CurrentPicture() const;

private:
    static LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    void OnMouseMove(POINT position);
    void OnLButtonDown();
    void OnLButtonUp();

    HWND m_hWnd = nullptr;
    bool m_bHover = false;
    bool m_bTracking = false;  // the button holds the capture to follow the pointer
    RECT m_rcClient{};
    HBITMAP m_bmpNormal = nullptr;
    HBITMAP m_bmpHover = nullptr;
    HBITMAP m_bmpDisabled = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

}  // namespace tarvex
