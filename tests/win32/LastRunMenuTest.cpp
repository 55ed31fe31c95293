// The Win32 window's context menu, driven from outside: a right click on the dialog opens the
// menu, and its entry puts the last run's record on the clipboard, where any program pastes it.

#include "tests/win32/WindowFixture.h"

namespace tarvex::testing {
namespace {

// The demo's command for the menu's entry (app/win32/LastRunMenu.h).
constexpr UINT kCopyLastRunCommand = 160;

std::wstring ClipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) {
        return text;
    }
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

void EmptyTheClipboard() {
    if (::OpenClipboard(nullptr)) {
        ::EmptyClipboard();
        ::CloseClipboard();
    }
}

HWND VisibleMenu() {
    HWND menu = ::FindWindowW(L"#32768", nullptr);
    return menu != nullptr && ::IsWindowVisible(menu) ? menu : nullptr;
}

TEST_F(WindowTest, TheContextMenuCopiesTheLastRunsDetails) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--fail-at=5"));
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    ClickButton(prompt, kPromptOk);
    HWND failure = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        failure = m_pProgram->WaitForWindowWithControl(kPromptText);
        return failure != nullptr && failure != prompt;
    }));
    ClickButton(failure, kPromptOk);
    // After a failure the bar stays where the device failed; the button takes the next attempt.
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlEnabled(m_hDialog, kUpdateButton) && ::IsWindowEnabled(m_hDialog); }));

    // A right click on the dialog's surface, as the window system reports it to the dialog.
    RECT dialog{};
    ::GetWindowRect(m_hDialog, &dialog);
    ::PostMessageW(m_hDialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hDialog),
                   MAKELPARAM(dialog.left + 20, dialog.top + 40));
    EXPECT_TRUE(WaitUntil([] { return VisibleMenu() != nullptr; })) << "no menu opened";
    ::PostMessageW(m_hDialog, WM_CANCELMODE, 0, 0);
    EXPECT_TRUE(WaitUntil([] { return VisibleMenu() == nullptr; }));

    // The entry's command, as the menu sends it. The record is written as the run's last act,
    // just after the button comes back: the copy is asked for until it is there.
    EmptyTheClipboard();
    std::wstring copied;
    EXPECT_TRUE(WaitUntil([&] {
        ::SendMessageW(m_hDialog, WM_COMMAND, MAKEWPARAM(kCopyLastRunCommand, 0), 0);
        copied = ClipboardText();
        return copied.find(L"Outcome: failed\r\n") != std::wstring::npos;
    })) << WideToUtf8(copied);
    EXPECT_NE(copied.find(L"Program: tarvex-update\r\n"), std::wstring::npos);
    EXPECT_NE(copied.find(L"Device: hid 3a7e:6a11"), std::wstring::npos);
    EXPECT_NE(copied.find(L"Image version: V1.15\r\n"), std::wstring::npos);
    EXPECT_NE(copied.find(L"Last reports:\r\n"), std::wstring::npos);
}

}  // namespace
}  // namespace tarvex::testing
