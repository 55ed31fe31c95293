// CUpdateDlg's questions to the user: the program's own prompt, the success box and the file
// dialog, each opened on the window's thread for a worker that waits for the answer.

#include "app/win32/UpdateDlg.h"

#include <commdlg.h>

#include <algorithm>

#include "platform/windows/Utf16Text.h"
#include "ui/FileFilter.h"
#include "ui/PromptPlacement.h"

namespace tarvex {

namespace {

// The file dialog's path buffer: long paths included.
constexpr DWORD kPathBufferLength = 32768;

// The file dialog's filter: each entry's description and patterns, each ended by a NUL, and a
// NUL after the last entry.
std::wstring FileDialogFilter(const std::string& filter) {
    std::wstring wide;
    for (const FileFilterEntry& entry : ParseFileFilter(filter)) {
        wide += Utf8ToWide(entry.Description);
        wide.push_back(L'\0');
        wide += Utf8ToWide(entry.Patterns);
        wide.push_back(L'\0');
    }
    wide.push_back(L'\0');
    return wide;
}

}  // namespace

int CUpdateDlg::ShowFailureNotice(const std::string& text, const std::string& reason) {
    EndVolumeWait();
    return ShowPrompt(reason.empty() ? text : text + "\r\n" + reason, kPromptNotice);
}

int CUpdateDlg::ShowPrompt(const std::string& text, int mode) {
    // The text table keeps Windows line breaks; the prompt's static control breaks lines there.
    const std::wstring shownText = Utf8ToWide(text);
    const QuestionAnswer answer = m_Relay.Ask(
        [this, shownText, mode](const std::shared_ptr<CQuestion>& question) {
            ShowPromptWindow(question, shownText, mode);
        },
        QuestionAnswer{kPromptCancel, {}});
    return answer.Code;
}

void CUpdateDlg::ShowPromptWindow(const std::shared_ptr<CQuestion>& question,
                                  const std::wstring& text, int mode) {
    // All four start at 0: a failed read leaves zeros.
    RECT frame{};
    ::GetWindowRect(m_hWnd, &frame);
    const UiRect mainDialog{frame.left, frame.top, frame.right - frame.left,
                            frame.bottom - frame.top};
    const UiPoint position = PromptPosition(
        mainDialog, UiSize{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)});
    auto prompt = std::make_shared<CPromptDlg>();
    prompt->SetPosition(position.X, position.Y);
    prompt->SetText(text);
    prompt->SetMode(mode);
    CPromptDlg* shown = prompt.get();
    if (!shown->Open(m_hWnd, [this, question](int result) {
            question->Answer({result, {}});
            // Let go once this call has returned: the prompt's own button is still on the
            // stack.
            m_WindowCalls.Post([this] { ReapEndedPrompts(); });
        })) {
        question->Answer({kPromptNotCreated, {}});
        return;
    }
    // Looked up when it is dismissed: by then the user may have answered and the prompt been let
    // go, while the worker that asked has not yet taken the answer.
    question->SetDismiss([weak = std::weak_ptr<CPromptDlg>(prompt)] {
        if (const auto open = weak.lock()) {
            open->End(kPromptCancel);
        }
    });
    m_Prompts.push_back(std::move(prompt));
}

void CUpdateDlg::ReapEndedPrompts() {
    m_Prompts.erase(std::remove_if(m_Prompts.begin(), m_Prompts.end(),
                                   [](const auto& prompt) { return prompt->Ended(); }),
                    m_Prompts.end());
}

void CUpdateDlg::ShowSuccessBox(const std::string& text, const std::string& caption) {
    EndVolumeWait();
    const std::wstring shownText = Utf8ToWide(text);
    const std::wstring shownCaption = Utf8ToWide(caption);
    m_Relay.Ask(
        [this, shownText, shownCaption](const std::shared_ptr<CQuestion>& question) {
            question->SetDismiss([this] { DismissOwnedSystemWindows(); });
            ++m_NestedModal;
            ::MessageBoxW(m_hWnd, shownText.c_str(), shownCaption.c_str(), MB_OK);
            --m_NestedModal;
            question->Answer({kPromptOk, {}});
        },
        QuestionAnswer{kPromptCancel, {}});
}

std::optional<std::filesystem::path> CUpdateDlg::AskImagePath(
    const std::string& filter, const std::filesystem::path& initialFolder) {
    const std::wstring filterText = FileDialogFilter(filter);
    const std::wstring folder = initialFolder.wstring();
    const QuestionAnswer answer = m_Relay.Ask(
        [this, filterText, folder](const std::shared_ptr<CQuestion>& question) {
            question->SetDismiss([this] { DismissOwnedSystemWindows(); });
            std::wstring path(kPathBufferLength, L'\0');
            OPENFILENAMEW dialog{};
            dialog.lStructSize = sizeof(dialog);
            dialog.hwndOwner = m_hWnd;
            dialog.lpstrFilter = filterText.c_str();
            dialog.nFilterIndex = 1;
            dialog.lpstrFile = path.data();
            dialog.nMaxFile = kPathBufferLength;
            dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
            dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                           OFN_NOCHANGEDIR;
            ++m_NestedModal;
            const BOOL chosen = ::GetOpenFileNameW(&dialog);
            --m_NestedModal;
            if (chosen != FALSE) {
                path.resize(path.find(L'\0'));
                question->Answer({kPromptOk, std::filesystem::path(path)});
            } else {
                question->Answer({kPromptCancel, {}});
            }
        },
        QuestionAnswer{kPromptCancel, {}});
    if (answer.Code != kPromptOk) {
        return std::nullopt;
    }
    return answer.Path;
}

}  // namespace tarvex
