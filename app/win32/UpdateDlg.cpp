#include "app/win32/UpdateDlg.h"

#include <commctrl.h>

#include <algorithm>

#include "app/win32/ResourceIds.h"
#include "platform/windows/Utf16Text.h"
#include "ui/DialogKeys.h"
#include "ui/DialogLayout.h"
#include "ui/LocalizedText.h"
#include "ui/PictureIds.h"
#include "update/DeviceNoticePump.h"

namespace tarvex {

namespace {

constexpr const char* kCaptionSuffix = "V1.0";
constexpr unsigned kProgressMaximum = 100;
// The move command with 1 in its low bits: the system moves the window with the mouse.
constexpr WPARAM kMoveWithMouse = SC_MOVE | 0x0001;

// Keys the dialog swallows: none of them may close it, press its button or move the focus.
constexpr WPARAM kSwallowedKeys[] = {VK_TAB, VK_RETURN, VK_MENU, VK_ESCAPE, VK_LEFT,
                                     VK_UP,  VK_RIGHT,  VK_DOWN, VK_F1};

// The plug-and-play service asked again for the dialog's registration, and a notice source that
// does not come through the dialog's messages looked at.
constexpr UINT kRegistrationRetryMs = 100;
constexpr int kRegistrationTries = 100;
constexpr UINT kNoticePollMs = 100;

// The text table keeps Windows line breaks; a static control breaks lines at CR LF as well.
std::wstring FromTable(const std::string& text) {
    return Utf8ToWide(text);
}

}  // namespace

CUpdateDlg::CUpdateDlg(const CUiLanguage& language)
    : m_Language(language),
      m_WindowCalls([this] { return PumpOneMessage(); }),
      m_Relay(m_WindowCalls) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM_ICON),
                                              IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    m_hSmallIcon = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(IDI_PROGRAM_ICON), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
        ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

CUpdateDlg::~CUpdateDlg() {
    // Nothing may wait for this window any more.
    m_Relay.CancelAll();
    if (m_hWnd != nullptr) {
        ::DestroyWindow(m_hWnd);
    }
    m_Prompts.clear();
    if (m_hInstructionFont != nullptr) {
        ::DeleteObject(m_hInstructionFont);
    }
    for (HICON icon : {m_hIcon, m_hSmallIcon}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool CUpdateDlg::Create(CUpdateEngine& engine, CDeviceNoticeSource* notices,
                        CWinDialogDeviceNotices* dialogNotices) {
    m_pEngine = &engine;
    m_pNotices = notices;
    m_pDialogNotices = dialogNotices;
    HWND window =
        ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG),
                             nullptr, DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        return false;
    }
    ::ShowWindow(window, SW_SHOW);
    return true;
}

// --- start-up ---

INT_PTR CALLBACK CUpdateDlg::DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CUpdateDlg*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
        self->OnInitDialog();
        return TRUE;  // default focus
    }
    auto* self = reinterpret_cast<CUpdateDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || self->m_hWnd != window) {
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

void CUpdateDlg::OnInitDialog() {
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    BindControls();
    m_WindowCalls.Attach(m_hWnd);
    ::SetWindowTextW(m_pInstructionText,
                     FromTable(LoadLocalizedString(kTextInstructions, m_Language)).c_str());
    ::SendMessageW(m_pProgress, PBM_SETRANGE32, 0, static_cast<LPARAM>(kProgressMaximum));
    ::SendMessageW(m_pProgress, PBM_SETPOS, 0, 0);
    if (m_pDialogNotices != nullptr && !m_pDialogNotices->Attach(m_hWnd)) {
        // The plug-and-play service may still be starting with the session.
        ::SetTimer(m_hWnd, kRegistrationTimer, kRegistrationRetryMs, nullptr);
    } else if (m_pDialogNotices == nullptr && m_pNotices != nullptr) {
        ::SetTimer(m_hWnd, kNoticeTimer, kNoticePollMs, nullptr);
    }
    const std::string caption = LoadLocalizedString(kTextTitle, m_Language) + " " + kCaptionSuffix;
    ::SetWindowTextW(m_hWnd, Utf8ToWide(caption).c_str());
    if (m_pEngine != nullptr) {
        m_pEngine->Initialise();
    }
    CreateInstructionFont();
}

void CUpdateDlg::BindControls() {
    m_pVersionText = ::GetDlgItem(m_hWnd, IDC_VERSION_TEXT);
    m_pInstructionText = ::GetDlgItem(m_hWnd, IDC_INSTRUCTION_TEXT);
    m_pProgress = ::GetDlgItem(m_hWnd, IDC_PROGRESS);
    m_pUpdateButton = ::GetDlgItem(m_hWnd, IDC_UPDATE_BUTTON);
}

void CUpdateDlg::CreateInstructionFont() {
    // Any character set rather than ANSI alone: the font mapper may then link in a face that
    // has the Chinese instructions' glyphs (with ANSI alone wine shows empty boxes for them).
    m_hInstructionFont = ::CreateFontW(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                       DEFAULT_PITCH | FF_SWISS, L"Arial");
    ::SendMessageW(m_pInstructionText, WM_SETFONT, reinterpret_cast<WPARAM>(m_hInstructionFont),
                   TRUE);
}

// --- the message loop ---

int CUpdateDlg::RunMessageLoop() {
    while (PumpOneMessage()) {
    }
    return 0;
}

bool CUpdateDlg::PumpOneMessage() {
    MSG message{};
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
        // For the loops outside this one.
        ::PostQuitMessage(got == 0 ? static_cast<int>(message.wParam) : 1);
        return false;
    }
    if (PreTranslateMessage(message) || IsPromptMessage(message)) {
        return true;
    }
    if (m_hWnd != nullptr && ::IsDialogMessageW(m_hWnd, &message)) {
        return true;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
    return true;
}

bool CUpdateDlg::PreTranslateMessage(const MSG& message) const {
    if (m_hWnd == nullptr || (message.hwnd != m_hWnd && !::IsChild(m_hWnd, message.hwnd))) {
        return false;
    }
    switch (message.message) {
        case WM_NCLBUTTONDOWN:
            return false;  // dispatched as it is
        case WM_HOTKEY:
            return true;
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            // Alt comes as a system key; on its own it would open the system menu.
            return IsSwallowedByMainDialog(static_cast<int>(message.wParam));
        default:
            return false;
    }
}

bool CUpdateDlg::IsPromptMessage(MSG& message) {
    for (const auto& prompt : m_Prompts) {
        HWND window = prompt->Window();
        if (window != nullptr && (message.hwnd == window || ::IsChild(window, message.hwnd))) {
            return ::IsDialogMessageW(window, &message) != FALSE;
        }
    }
    return false;
}

// --- messages ---

INT_PTR CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            if (::IsIconic(m_hWnd)) {
                OnPaint();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
            return TRUE;
        case WM_LBUTTONDOWN:
            ::SendMessageW(m_hWnd, WM_SYSCOMMAND, kMoveWithMouse, 0);
            return FALSE;  // and the default handling
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_UPDATE_BUTTON && HIWORD(wParam) == BN_CLICKED) {
                OnUsbUpdate();
            }
            return TRUE;  // IDOK and IDCANCEL never end this dialog
        case WM_TIMER:
            OnTimer(wParam);
            return TRUE;
        case kEnableButtonMessage:
            ::EnableWindow(m_pUpdateButton, wParam != 0 ? TRUE : FALSE);
            return TRUE;
        case kSetProgressMessage:
            ::SendMessageW(m_pProgress, PBM_SETPOS, wParam, 0);
            return TRUE;
        case kRunCallMessage:
            CWindowCalls::RunCarried(lParam);
            ReapEndedPrompts();
            return TRUE;
        case kReservedUserMessage:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_CLOSE:
            CloseDown();
            return TRUE;
        case kDestroyMessage:
            DestroyWhenUnwound();
            return TRUE;
        case WM_DESTROY:
            m_WindowCalls.Detach();
            if (m_pDialogNotices != nullptr) {
                m_pDialogNotices->Detach();
            }
            ::PostQuitMessage(0);
            return FALSE;
        case WM_NCDESTROY:
            m_hWnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void CUpdateDlg::OnPaint() {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

void CUpdateDlg::OnUsbUpdate() {
    if (m_pEngine != nullptr && !m_bClosed) {
        m_pEngine->OnUsbUpdate();
    }
}

void CUpdateDlg::OnDeviceChange(WPARAM event, LPARAM record) {
    if (m_pDialogNotices == nullptr || m_pEngine == nullptr || m_bClosed) {
        return;
    }
    if (m_pDialogNotices->OnDeviceChange(event, record)) {
        DeliverDeviceNotices(*m_pDialogNotices, *m_pEngine);
    }
}

void CUpdateDlg::OnTimer(UINT_PTR timer) {
    if (timer == kDestroyTimer) {
        ::KillTimer(m_hWnd, kDestroyTimer);
        DestroyWhenUnwound();
    } else if (timer == kRegistrationTimer) {
        if (m_pDialogNotices == nullptr || m_pDialogNotices->RetryUsbRegistration() ||
            ++m_NoticeRegistrationTries >= kRegistrationTries) {
            ::KillTimer(m_hWnd, kRegistrationTimer);
        }
    } else if (timer == kNoticeTimer && m_pNotices != nullptr && m_pEngine != nullptr &&
               !m_bClosed) {
        if (m_pNotices->WaitForNotices(std::chrono::milliseconds(0)) == NoticeWait::Waiting) {
            DeliverDeviceNotices(*m_pNotices, *m_pEngine);
        }
    }
}

// --- control changes ---

void CUpdateDlg::EnableUpdateButton(bool enable) {
    m_WindowCalls.PostValue(kEnableButtonMessage, enable ? 1 : 0);
}

void CUpdateDlg::SetVersionText(const std::string& text) {
    m_WindowCalls.Post(
        [this, text = Utf8ToWide(text)] { ::SetWindowTextW(m_pVersionText, text.c_str()); });
}

void CUpdateDlg::SetProgress(unsigned position) {
    // The engine may report past 100 after a last chunk that carries bytes past the payload.
    const unsigned shown = std::min(position, kProgressMaximum);
    if (m_PostedProgress.exchange(shown) == shown) {
        return;
    }
    m_WindowCalls.PostValue(kSetProgressMessage, shown);
}

void CUpdateDlg::OnUpdateRunEnded(UpdateOutcome) {
    // The run's end reaches the window through the button, the progress and the result's
    // message; only a wait for the volume that ended without either is taken down here.
    EndVolumeWait();
}

void CUpdateDlg::ShowDriveVolumeWait(std::chrono::seconds limit) {
    std::string text = LoadLocalizedString(kTextWaitingForVolume, m_Language);
    if (const auto at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(limit.count()));
    }
    m_WindowCalls.Post([this, shown = FromTable(text)] {
        ::SetWindowTextW(m_pInstructionText, shown.c_str());
        m_bShowingVolumeWait = true;
    });
}

void CUpdateDlg::EndVolumeWait() {
    m_WindowCalls.Post([this] {
        if (m_bShowingVolumeWait) {
            m_bShowingVolumeWait = false;
            ::SetWindowTextW(m_pInstructionText,
                             FromTable(LoadLocalizedString(kTextInstructions, m_Language)).c_str());
        }
    });
}

}  // namespace tarvex
