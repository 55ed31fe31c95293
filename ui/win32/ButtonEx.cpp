#include "ui/win32/ButtonEx.h"

#include <commctrl.h>

namespace tarvex {

namespace {

// Visible, tab stop, flat, bitmap, owner-drawn: the look the pictures were made for.
constexpr DWORD kButtonStyle =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_FLAT | BS_BITMAP | BS_OWNERDRAW;
constexpr UINT_PTR kSubclassId = 1;

HBITMAP LoadPicture(UINT id) {
    return static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                             IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

void DeletePicture(HBITMAP& picture) {
    if (picture != nullptr) {
        ::DeleteObject(picture);
        picture = nullptr;
    }
}

}  // namespace

CButtonEx::~CButtonEx() {
    if (m_hWnd != nullptr) {
        ::RemoveWindowSubclass(m_hWnd, SubclassProcedure, kSubclassId);
    }
    DeletePicture(m_bmpNormal);
    DeletePicture(m_bmpHover);
    DeletePicture(m_bmpDisabled);
}

bool CButtonEx::SetBitmaps(UINT normal, UINT highlighted, UINT disabled) {
    DeletePicture(m_bmpNormal);
    DeletePicture(m_bmpHover);
    DeletePicture(m_bmpDisabled);
    m_bmpNormal = LoadPicture(normal);
    m_bmpHover = LoadPicture(highlighted);
    m_bmpDisabled = LoadPicture(disabled);
    BITMAP info{};
    if (m_bmpNormal == nullptr || ::GetObjectW(m_bmpNormal, sizeof(info), &info) == 0) {
        return false;
    }
    m_nWidth = info.bmWidth;
    m_nHeight = info.bmHeight;
    return m_bmpHover != nullptr && m_bmpDisabled != nullptr;
}

bool CButtonEx::Create(HWND parent, int controlId, const RECT& rect,
                       const std::wstring& accessibleName) {
    m_hWnd = ::CreateWindowExW(0, L"BUTTON", accessibleName.c_str(), kButtonStyle, rect.left,
                               rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                               ::GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd == nullptr) {
        return false;
    }
    // Whatever style it was made with, the button is drawn by DrawItem.
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE,
                        (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    return ::SetWindowSubclass(m_hWnd, SubclassProcedure, kSubclassId,
                               reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

CButtonEx::Picture CButtonEx::CurrentPicture() const {
    if (m_hWnd == nullptr || (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_DISABLED) != 0) {
        return Picture::Disabled;
    }
    if (m_bHover && ::GetCapture() == m_hWnd) {
        return Picture::Highlighted;
    }
    return Picture::Normal;
}

void CButtonEx::DrawItem(const DRAWITEMSTRUCT& item) {
    ::GetClientRect(m_hWnd, &m_rcClient);
    HBITMAP picture = m_bmpNormal;
    switch (CurrentPicture()) {
        case Picture::Disabled:
            picture = m_bmpDisabled;
            break;
        case Picture::Highlighted:
            picture = m_bmpHover;
            break;
        case Picture::Normal:
            break;
    }
    if (picture == nullptr) {
        return;
    }
    HDC memory = ::CreateCompatibleDC(item.hDC);
    if (memory == nullptr) {
        return;
    }
    HGDIOBJ previous = ::SelectObject(memory, picture);
    ::BitBlt(item.hDC, m_rcClient.left, m_rcClient.top, m_nWidth, m_nHeight, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteDC(memory);
}

void CButtonEx::OnMouseMove(POINT position) {
    if (m_bTracking && ::GetCapture() == m_hWnd) {
        RECT client{};
        ::GetClientRect(m_hWnd, &client);
        if (::PtInRect(&client, position)) {
            return;
        }
        m_bTracking = false;
        ::ReleaseCapture();
        m_bHover = false;
    } else {
        m_bTracking = true;
        ::SetCapture(m_hWnd);
        m_bHover = true;
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CButtonEx::OnLButtonDown() {
    m_bHover = false;
    if (::GetFocus() != m_hWnd) {
        ::SetFocus(m_hWnd);
    }
}

void CButtonEx::OnLButtonUp() {
    m_bHover = true;
    if (::GetFocus() != m_hWnd) {
        ::SetFocus(m_hWnd);
    }
}

LRESULT CALLBACK CButtonEx::SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto* button = reinterpret_cast<CButtonEx*>(self);
    switch (message) {
        case WM_MOUSEMOVE: {
            const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
            button->OnMouseMove(
                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return result;
        }
        case WM_LBUTTONDOWN: {
            button->OnLButtonDown();
            const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
            ::InvalidateRect(window, nullptr, TRUE);
            return result;
        }
        case WM_LBUTTONUP: {
            button->OnLButtonUp();
            // The click this sends may end the prompt and destroy this window; the object
            // itself lives on until its owner lets it go.
            const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
            if (::IsWindow(window)) {
                ::InvalidateRect(window, nullptr, TRUE);
            }
            return result;
        }
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, SubclassProcedure, kSubclassId);
            button->m_hWnd = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace tarvex
