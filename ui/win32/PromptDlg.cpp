#include "ui/win32/PromptDlg.h"

#include "ui/PromptLayout.h"
#include "ui/PromptModes.h"
#include "ui/win32/PromptResourceIds.h"

namespace tarvex {

namespace {

// The resource script names the same ids as the shared layout.
static_assert(IDC_PROMPT_TEXT == kPromptTextControl && IDC_PROMPT_OK == kPromptOkControl &&
              IDC_PROMPT_CANCEL == kPromptCancelControl &&
              IDC_PROMPT_CANCEL_COMMAND == kPromptCancelCommand);
static_assert(IDB_OK == kPictureOk && IDB_OK_HIGHLIGHTED == kPictureOkHighlighted &&
              IDB_CANCEL == kPictureCancel && IDB_CANCEL_HIGHLIGHTED == kPictureCancelHighlighted &&
              IDB_PROMPT_BACKGROUND == kPicturePromptBackground);

constexpr COLORREF kPromptRed = RGB(141, 22, 30);
constexpr COLORREF kPromptTextColour = RGB(255, 255, 255);
// The text's character cell, and the smallest cell a long text is shrunk to so that it fits.
constexpr int kTextCellHeight = 16;
constexpr int kSmallestTextCellHeight = 10;
// The move command with 1 in its low bits: the system moves the window with the mouse.
constexpr WPARAM kMoveWithMouse = SC_MOVE | 0x0001;

// The prompts open over a window, kept on the window itself: several may be open over it at once
// (two notices from two quick presses), and it takes input again only when the last has ended.
constexpr const wchar_t* kOpenPromptsProperty = L"TarvexOpenPrompts";

void HoldOwner(HWND owner) {
    const auto open = reinterpret_cast<INT_PTR>(::GetPropW(owner, kOpenPromptsProperty));
    ::SetPropW(owner, kOpenPromptsProperty, reinterpret_cast<HANDLE>(open + 1));
    ::EnableWindow(owner, FALSE);
}

// Whether this was the last prompt over `owner`.
bool LetGoOfOwner(HWND owner) {
    const auto open = reinterpret_cast<INT_PTR>(::GetPropW(owner, kOpenPromptsProperty));
    if (open > 1) {
        ::SetPropW(owner, kOpenPromptsProperty, reinterpret_cast<HANDLE>(open - 1));
        return false;
    }
    ::RemovePropW(owner, kOpenPromptsProperty);
    return true;
}

HFONT CreateTextFont(int cellHeight) {
    return ::CreateFontW(cellHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, L"Arial");
}

RECT ToRect(const UiRect& rect) {
    return RECT{rect.Left, rect.Top, rect.Right(), rect.Bottom()};
}

int Width(const RECT& rect) {
    return rect.right - rect.left;
}

int Height(const RECT& rect) {
    return rect.bottom - rect.top;
}

}  // namespace

CPromptDlg::~CPromptDlg() {
    if (m_hWnd != nullptr) {
        End(kPromptCancel);
    }
    if (m_hTextBrush != nullptr) {
        ::DeleteObject(m_hTextBrush);
    }
    if (m_hTextFont != nullptr) {
        ::DeleteObject(m_hTextFont);
    }
    if (m_hBackground != nullptr) {
        ::DeleteObject(m_hBackground);
    }
}

void CPromptDlg::SetPosition(int x, int y) {
    m_X = x;
    m_Y = y;
}

void CPromptDlg::SetText(std::wstring text) {
    m_Text = std::move(text);
}

void CPromptDlg::SetMode(int mode) {
    m_Mode = mode;
}

bool CPromptDlg::Open(HWND owner, std::function<void(int)> onEnd) {
    m_hOwner = owner;
    m_OnEnd = std::move(onEnd);
    HWND window = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROMPT),
                                       owner, DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        m_OnEnd = nullptr;
        return false;
    }
    if (owner != nullptr) {
        HoldOwner(owner);
    }
    ::ShowWindow(window, SW_SHOW);
    return true;
}

void CPromptDlg::End(int result) {
    if (m_bEnded || m_hWnd == nullptr) {
        return;
    }
    m_bEnded = true;
    // The owner first, so that it, not some other program, becomes active again.
    if (m_hOwner != nullptr && LetGoOfOwner(m_hOwner)) {
        ::EnableWindow(m_hOwner, TRUE);
    }
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    if (auto onEnd = std::move(m_OnEnd); onEnd) {
        onEnd(result);
    }
}

INT_PTR CALLBACK CPromptDlg::DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CPromptDlg*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
        self->OnInitDialog();
        return TRUE;  // the dialog manager sets the focus
    }
    auto* self = reinterpret_cast<CPromptDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || self->m_hWnd != window) {
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR CPromptDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_ERASEBKGND:
            if (OnEraseBackground(reinterpret_cast<HDC>(wParam))) {
                ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            for (CButtonEx* button : {m_pOkButton.get(), m_pCancelButton.get()}) {
                if (button != nullptr && button->Window() == item->hwndItem) {
                    button->DrawItem(*item);
                    return TRUE;
                }
            }
            return FALSE;
        }
        case WM_LBUTTONDOWN:
            ::SendMessageW(m_hWnd, WM_SYSCOMMAND, kMoveWithMouse, 0);
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            End(kPromptCancel);
            return TRUE;
        case WM_NCDESTROY:
            // Destroyed with its owner, not through End: the question is answered as cancelled.
            if (!m_bEnded) {
                m_bEnded = true;
                m_hWnd = nullptr;
                if (m_hOwner != nullptr) {
                    LetGoOfOwner(m_hOwner);
                }
                if (auto onEnd = std::move(m_OnEnd); onEnd) {
                    onEnd(kPromptCancel);
                }
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void CPromptDlg::OnInitDialog() {
    ::MoveWindow(m_hWnd, m_X, m_Y, kPromptWidth, kPromptHeight, TRUE);
    m_hBackground = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                      MAKEINTRESOURCEW(IDB_PROMPT_BACKGROUND),
                                                      IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    m_hTextBrush = ::CreateSolidBrush(kPromptRed);
    CreateButtons();
    ::SetDlgItemTextW(m_hWnd, kPromptTextControl, m_Text.c_str());
    PlaceText();
}

bool CPromptDlg::CreateButtons() {
    bool created = true;
    for (const PromptButton& shape : PromptButtons(m_Mode == kPromptQuestion)) {
        auto button = std::make_unique<CButtonEx>();
        // The disabled picture is the normal one.
        button->SetBitmaps(shape.Picture, shape.HighlightedPicture, shape.Picture);
        const std::wstring name(shape.Name,
                                shape.Name + std::char_traits<char>::length(shape.Name));
        created = button->Create(m_hWnd, shape.ControlId, ToRect(shape.Rect), name) && created;
        (shape.ControlId == kPromptOkControl ? m_pOkButton : m_pCancelButton) = std::move(button);
    }
    return created;
}

void CPromptDlg::PlaceText() {
    HWND text = ::GetDlgItem(m_hWnd, kPromptTextControl);
    if (text == nullptr) {
        return;
    }
    const RECT area = ToRect(kPromptTextRect);
    RECT needed{};
    HDC dc = ::GetDC(text);
    // The largest cell up to the design's own at which the wrapped text fits the area.
    for (int cell = kTextCellHeight; cell >= kSmallestTextCellHeight; --cell) {
        if (m_hTextFont != nullptr) {
            ::DeleteObject(m_hTextFont);
        }
        m_hTextFont = CreateTextFont(cell);
        HGDIOBJ previous = ::SelectObject(dc, m_hTextFont);
        needed = RECT{0, 0, Width(area), 0};
        ::DrawTextW(dc, m_Text.c_str(), -1, &needed,
                    DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(dc, previous);
        if (Height(needed) <= Height(area) && Width(needed) <= Width(area)) {
            break;
        }
    }
    ::ReleaseDC(text, dc);
    ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(m_hTextFont), FALSE);
    // Centred in the area on both axes; a static control centres only across.
    const int height = Height(needed) < Height(area) ? Height(needed) : Height(area);
    const int top = area.top + (Height(area) - height) / 2;
    ::MoveWindow(text, area.left, top, Width(area), height, TRUE);
}

INT_PTR CPromptDlg::OnCtlColor(HDC dc, HWND control) {
    if (::GetDlgCtrlID(control) != kPromptTextControl) {
        return FALSE;
    }
    ::SetTextColor(dc, kPromptTextColour);
    ::SetBkColor(dc, kPromptRed);
    return reinterpret_cast<INT_PTR>(m_hTextBrush);
}

bool CPromptDlg::OnEraseBackground(HDC dc) {
    if (m_hBackground == nullptr) {
        return false;
    }
    HDC memory = ::CreateCompatibleDC(dc);
    if (memory == nullptr) {
        return false;
    }
    HGDIOBJ previous = ::SelectObject(memory, m_hBackground);
    ::BitBlt(dc, 0, 0, kPromptWidth, kPromptHeight, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteDC(memory);
    return true;
}

void CPromptDlg::OnCommand(int controlId) {
    switch (controlId) {
        case kPromptOkControl:
            End(kPromptOk);
            break;
        case kPromptCancelControl:
        case kPromptCancelCommand:
        case IDCANCEL:  // Escape
            End(kPromptCancel);
            break;
        default:
            break;
    }
}

}  // namespace tarvex
