#include "app/win32/LastRunMenu.h"

#include <commctrl.h>

#include <cstring>

#include "platform/windows/Utf16Text.h"
#include "ui/LocalizedText.h"

namespace tarvex {

namespace {

constexpr UINT_PTR kSubclassId = 0x6C72;  // one subclass of ours per dialog

std::wstring WithCrLf(const std::string& text) {
    std::wstring wide;
    for (const wchar_t c : Utf8ToWide(text)) {
        if (c == L'\n' && (wide.empty() || wide.back() != L'\r')) {
            wide.push_back(L'\r');
        }
        wide.push_back(c);
    }
    return wide;
}

}  // namespace

bool PutTextOnClipboard(HWND owner, const std::string& text) {
    const std::wstring wide = WithCrLf(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        return false;
    }
    void* target = ::GlobalLock(memory);
    if (target == nullptr) {
        ::GlobalFree(memory);
        return false;
    }
    std::memcpy(target, wide.c_str(), bytes);
    ::GlobalUnlock(memory);
    if (!::OpenClipboard(owner)) {
        ::GlobalFree(memory);
        return false;
    }
    ::EmptyClipboard();
    // On success the clipboard owns the memory.
    const bool placed = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    ::CloseClipboard();
    if (!placed) {
        ::GlobalFree(memory);
    }
    return placed;
}

CLastRunMenu::CLastRunMenu(const CUiLanguage& language, std::function<std::string()> lastRunText)
    : m_Language(language), m_LastRunText(std::move(lastRunText)) {}

CLastRunMenu::~CLastRunMenu() {
    if (m_hDialog != nullptr && ::IsWindow(m_hDialog)) {
        ::RemoveWindowSubclass(m_hDialog, &CLastRunMenu::SubclassProcedure, kSubclassId);
    }
}

bool CLastRunMenu::Install(HWND dialog) {
    m_hDialog = dialog;
    return ::SetWindowSubclass(dialog, &CLastRunMenu::SubclassProcedure, kSubclassId,
                               reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

LRESULT CALLBACK CLastRunMenu::SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto* menu = reinterpret_cast<CLastRunMenu*>(self);
    switch (message) {
        case WM_CONTEXTMENU:
            menu->Open(lParam);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kCopyLastRunCommand && lParam == 0) {
                menu->CopyLastRun();
                return 0;
            }
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, &CLastRunMenu::SubclassProcedure, kSubclassId);
            menu->m_hDialog = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

void CLastRunMenu::Open(LPARAM screenPoint) {
    POINT at{static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    // From the keyboard (Shift+F10, the menu key) the point is -1, -1: open at the dialog.
    if (screenPoint == static_cast<LPARAM>(-1)) {
        RECT dialog{};
        ::GetWindowRect(m_hDialog, &dialog);
        at = {dialog.left + 8, dialog.top + 8};
    }
    HMENU popup = ::CreatePopupMenu();
    if (popup == nullptr) {
        return;
    }
    const bool bHaveRecord = !m_LastRunText().empty();
    const std::wstring entry = Utf8ToWide(LoadLocalizedString(kTextCopyLastRun, m_Language));
    ::AppendMenuW(popup, MF_STRING | (bHaveRecord ? MF_ENABLED : MF_GRAYED), kCopyLastRunCommand,
                  entry.c_str());
    // The entry's command comes back as a WM_COMMAND to the dialog, which the subclass takes.
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0,
                     m_hDialog, nullptr);
    ::DestroyMenu(popup);
}

void CLastRunMenu::CopyLastRun() {
    const std::string text = m_LastRunText();
    if (!text.empty()) {
        PutTextOnClipboard(m_hDialog, text);
    }
}

}  // namespace tarvex
