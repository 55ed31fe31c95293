// Closing CUpdateDlg: the questions answered as cancelled, the system dialogs that run their
// modal loops on the window's thread dismissed, the engine stopped, and the dialog destroyed once
// those loops have unwound.

#include "app/win32/UpdateDlg.h"

#include <algorithm>

namespace tarvex {

namespace {

// How often the dialog looks again whether the system dialogs it dismissed have unwound, and how
// long it waits for them before it destroys itself anyway (the engine has been stopped and joined
// by then; destroying the dialog takes its owned windows with it).
constexpr UINT kDestroyRetryMs = 50;
constexpr ULONGLONG kNestedModalBoundMs = 2000;

}  // namespace

std::vector<HWND> CUpdateDlg::OwnedSystemWindows() const {
    struct Owned {
        HWND Window;
        int Depth;
    };
    struct Search {
        const CUpdateDlg* Dialog;
        std::vector<Owned> Found;
    } search{this, {}};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM context) -> BOOL {
            auto& found = *reinterpret_cast<Search*>(context);
            // How many owners up the dialog is; a prompt and what it owns are its question's.
            int depth = 0;
            for (HWND step = window; step != nullptr; step = ::GetWindow(step, GW_OWNER)) {
                if (step == found.Dialog->m_hWnd) {
                    if (depth > 0) {
                        found.Found.push_back({window, depth});
                    }
                    break;
                }
                if (found.Dialog->IsPromptWindow(step)) {
                    break;
                }
                ++depth;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    std::stable_sort(search.Found.begin(), search.Found.end(),
                     [](const Owned& a, const Owned& b) { return a.Depth > b.Depth; });
    std::vector<HWND> windows;
    for (const Owned& owned : search.Found) {
        windows.push_back(owned.Window);
    }
    return windows;
}

bool CUpdateDlg::IsPromptWindow(HWND window) const {
    return std::any_of(m_Prompts.begin(), m_Prompts.end(),
                       [window](const auto& prompt) { return prompt->Window() == window; });
}

void CUpdateDlg::DismissOwnedSystemWindows() {
    // Innermost first: a system dialog's own message box (the file dialog's "path does not
    // exist") runs a modal loop inside that dialog's, and the dialog can end only once the box
    // has.
    for (HWND window : OwnedSystemWindows()) {
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
}

void CUpdateDlg::CancelQuestions() {
    m_Relay.CancelAll();
}

void CUpdateDlg::CloseDown() {
    if (m_bClosed) {
        return;
    }
    m_bClosed = true;
    ::KillTimer(m_hWnd, kNoticeTimer);
    ::KillTimer(m_hWnd, kRegistrationTimer);
    // Answered first: a worker waiting for the user would never let itself be joined.
    m_Relay.CancelAll();
    ::ShowWindow(m_hWnd, SW_HIDE);
    if (m_pDialogNotices != nullptr) {
        m_pDialogNotices->Detach();
    }
    if (m_pEngine != nullptr) {
        m_pEngine->Shutdown();
    }
    m_CloseStartedMs = ::GetTickCount64();
    ::PostMessageW(m_hWnd, kDestroyMessage, 0, 0);
}

void CUpdateDlg::DestroyWhenUnwound() {
    if (m_NestedModal > 0 && ::GetTickCount64() - m_CloseStartedMs < kNestedModalBoundMs) {
        // A system dialog dismissed a moment ago is still unwinding on this thread, or one of
        // its own came up since: dismissed again, looked at again a little later.
        DismissOwnedSystemWindows();
        ::SetTimer(m_hWnd, kDestroyTimer, kDestroyRetryMs, nullptr);
        return;
    }
    ::DestroyWindow(m_hWnd);
}

}  // namespace tarvex
