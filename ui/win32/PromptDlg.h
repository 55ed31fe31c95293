#pragma once
// CPromptDlg: the program's own prompt on Win32, from dialog template 111: a 300 x 127 panel,
// white text on dark red (control 114) and one or two picture buttons made when it opens. Mode
// kPromptQuestion shows OK (control 124) and CANCEL (127); any other mode OK alone. It ends with
// kPromptOk for OK, kPromptCancel for CANCEL, Escape, the close request or a command from
// control 128.
//
// It is modeless towards the message loop but modal towards its owner: the owner is disabled
// while it is open and enabled again when the last prompt open over it ends. The loop that runs
// the owner's thread hands it its messages (IsDialogMessage) so that Escape and Tab work in it.
//
// Threads: the thread that opens it, which must run a message loop.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "ui/win32/ButtonEx.h"

namespace tarvex {

class CPromptDlg {
public:
    CPromptDlg() = default;
    ~CPromptDlg();
    CPromptDlg(const CPromptDlg&) = delete;
    CPromptDlg& operator=(const CPromptDlg&) = delete;

    void SetPosition(int x, int y);
    void SetText(std::wstring text);
    void SetMode(int mode);

    // Opens the prompt over `owner` and disables the owner. `onEnd` is called once, on this
    // thread, with the result when the prompt ends (its window has gone by then). False, and
    // nothing shown or called, when the window cannot be made.
    bool Open(HWND owner, std::function<void(int)> onEnd);
    // Ends the prompt with `result` (the first end counts); the window is destroyed, the object
    // stays until its owner lets it go.
    void End(int result);

    HWND Window() const { return m_hWnd; }
    bool Ended() const { return m_bEnded; }
    CButtonEx* OkButton() const { return m_pOkButton.get(); }
    CButtonEx* CancelButton() const { return m_pCancelButton.get(); }

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    bool CreateButtons();
    void PlaceText();
    INT_PTR OnCtlColor(HDC dc, HWND control);
    bool OnEraseBackground(HDC dc);
    void OnCommand(int controlId);

    HWND m_hWnd = nullptr;
    HWND m_hOwner = nullptr;
    std::unique_ptr<CButtonEx> m_pOkButton;
    std::unique_ptr<CButtonEx> m_pCancelButton;
    int m_X = 0;
    int m_Y = 0;
    std::wstring m_Text;
    int m_Mode = 0;
    HBRUSH m_hTextBrush = nullptr;
    HFONT m_hTextFont = nullptr;
    HBITMAP m_hBackground = nullptr;
    bool m_bEnded = false;
    std::function<void(int)> m_OnEnd;
};

}  // namespace tarvex
