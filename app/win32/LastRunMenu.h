#pragma once
// The dialog's context menu on Win32: a right click on the dialog's surface (WM_CONTEXTMENU,
// which the controls pass on to the dialog) opens a menu whose one entry (text 60) copies the
// last run's record, as readable text, to the clipboard. The entry is greyed while there is no
// record. The same copy follows a WM_COMMAND of kCopyLastRunCommand, as the menu sends it.
// The dialog's own procedure is left as it is: the menu hooks in as a window subclass.
//
// Threads: the dialog's thread only.

#include <windows.h>

#include <functional>
#include <string>

#include "platform/UiLanguage.h"

namespace tarvex {

inline constexpr UINT kCopyLastRunCommand = 160;

class CLastRunMenu {
public:
    // `lastRunText` gives the text to copy (empty: nothing to copy), asked each time.
    CLastRunMenu(const CUiLanguage& language, std::function<std::string()> lastRunText);
    ~CLastRunMenu();
    CLastRunMenu(const CLastRunMenu&) = delete;
    CLastRunMenu& operator=(const CLastRunMenu&) = delete;

    // Hooks into `dialog`; false when the system refused.
    bool Install(HWND dialog);

private:
    static LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    void Open(LPARAM screenPoint);
    void CopyLastRun();

    const CUiLanguage& m_Language;
    std::function<std::string()> m_LastRunText;
    HWND m_hDialog = nullptr;
};

// `text` with CR LF line breaks on the clipboard as Unicode text, owned by `owner`.
bool PutTextOnClipboard(HWND owner, const std::string& text);

}  // namespace tarvex
