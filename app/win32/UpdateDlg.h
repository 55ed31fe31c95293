#pragma once
// CUpdateDlg: the updater's one window on Win32, from dialog template 102: the instruction text
// (115), the firmware version text (116), the progress bar (119) and the update button (123).
// It implements the engine's window interface: the engine decides, the dialog shows.
//
// Threads: created and driven on the window's thread, whose message loop is RunMessageLoop.
// The CUpdateView calls may come from any thread: control changes travel to the window's
// thread as private messages carrying their values, in the order they were made; questions
// (prompt, file dialog, success box) wait on the calling worker for the user's answer while the
// window keeps running.
//
// Closing (the close box, the system menu, WM_CLOSE from anyone) answers every open question as
// cancelled, takes the question windows away, withdraws the device notices, stops and joins the
// engine's workers, and then destroys the window, which ends the message loop.
//
// UpdateDlg.cpp holds the window and its controls, UpdateDlgQuestions.cpp the questions to the
// user and UpdateDlgClosing.cpp the closing.

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/WindowCalls.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/UiLanguage.h"
#include "platform/windows/WinDialogDeviceNotices.h"
#include "ui/win32/PromptDlg.h"
#include "update/UpdateEngine.h"
#include "update/UpdateView.h"

namespace tarvex {

// Private messages of the main dialog. 0x464 (WM_USER + 100) is answered with 0 and nothing
// else, as the dialog always has.
inline constexpr UINT kEnableButtonMessage = WM_APP + 0x22;  // wParam: enable
inline constexpr UINT kSetProgressMessage = WM_APP + 0x23;   // wParam: position 0..100
inline constexpr UINT kDestroyMessage = WM_APP + 0x24;       // after closing down
inline constexpr UINT kReservedUserMessage = WM_USER + 100;

class CUpdateDlg final : public CUpdateView {
public:
    explicit CUpdateDlg(const CUiLanguage& language);
    ~CUpdateDlg() override;
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // Window thread, once: creates the dialog over `engine` and shows it; its start-up runs the
    // engine's detection. `notices` is where device notices come from (null: none);
    // `dialogNotices`, when set, is that same source registered on the dialog itself, else the
    // dialog looks at `notices` now and then. False when the window cannot be made.
    bool Create(CUpdateEngine& engine, CDeviceNoticeSource* notices,
                CWinDialogDeviceNotices* dialogNotices);
    // Runs the window thread's message loop until the dialog has closed.
    int RunMessageLoop();

    // --- CUpdateView, any thread ---
    void EnableUpdateButton(bool enable) override;
    void SetVersionText(const std::string& text) override;
    void SetProgress(unsigned position) override;
    int ShowPrompt(const std::string& text, int mode) override;
    void ShowSuccessBox(const std::string& text, const std::string& caption) override;
    std::optional<std::filesystem::path> AskImagePath(
        const std::string& filter, const std::filesystem::path& initialFolder) override;
    void OnUpdateRunEnded(UpdateOutcome outcome) override;
    void ShowDriveVolumeWait(std::chrono::seconds limit) override;
    int ShowFailureNotice(const std::string& text, const std::string& reason) override;

    // Window thread: answers every open question as cancelled, now and from now on.
    void CancelQuestions();
    HWND Window() const { return m_hWnd; }

private:
    // The dialog's timers.
    static constexpr UINT_PTR kRegistrationTimer = 1;  // the notice registration tried again
    static constexpr UINT_PTR kNoticeTimer = 2;        // a notice source looked at
    static constexpr UINT_PTR kDestroyTimer = 3;       // closing: the system dialogs looked at

    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void BindControls();
    void CreateInstructionFont();
    void OnPaint();
    void OnUsbUpdate();
    void OnDeviceChange(WPARAM event, LPARAM record);
    void OnTimer(UINT_PTR timer);
    void CloseDown();

    bool PumpOneMessage();
    bool PreTranslateMessage(const MSG& message) const;
    bool IsPromptMessage(MSG& message);

    void ShowPromptWindow(const std::shared_ptr<CQuestion>& question, const std::wstring& text,
                          int mode);
    void ReapEndedPrompts();
    // Puts the instructions back in control 115 if the wait for the volume took their place.
    void EndVolumeWait();
    // Window thread: ends the modal system windows (file dialog, message box, and the boxes
    // these show in turn) owned by the dialog as their cancel would.
    void DismissOwnedSystemWindows();
    // This thread's windows owned by the dialog directly or through other windows, the prompts
    // and theirs left out; the most deeply owned first.
    std::vector<HWND> OwnedSystemWindows() const;
    bool IsPromptWindow(HWND window) const;
    // Window thread, after closing down: destroys the dialog once no system dialog runs its
    // modal loop on this thread any more, or once they have had their time.
    void DestroyWhenUnwound();

    const CUiLanguage& m_Language;
    HWND m_hWnd = nullptr;
    HWND m_pUpdateButton = nullptr;     // control 123
    HWND m_pProgress = nullptr;         // control 119
    HWND m_pVersionText = nullptr;      // control 116
    HWND m_pInstructionText = nullptr;  // control 115
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    HFONT m_hInstructionFont = nullptr;

    CWindowCalls m_WindowCalls;
    CQuestionRelay m_Relay;
    // Window thread only. Shared so that a question's dismiss can tell whether its prompt is
    // still there.
    std::vector<std::shared_ptr<CPromptDlg>> m_Prompts;
    int m_NestedModal = 0;  // system modal windows running on the window thread
    ULONGLONG m_CloseStartedMs = 0;

    CUpdateEngine* m_pEngine = nullptr;
    CDeviceNoticeSource* m_pNotices = nullptr;
    CWinDialogDeviceNotices* m_pDialogNotices = nullptr;
    int m_NoticeRegistrationTries = 0;
    bool m_bClosed = false;
    bool m_bShowingVolumeWait = false;  // window thread only: control 115 shows the wait
    // The last progress sent to the window's thread: one message per percent, not per chunk.
    std::atomic<unsigned> m_PostedProgress{0};
};

}  // namespace tarvex
