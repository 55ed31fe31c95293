// The main dialog in this very process, over the virtual device, where the test can arrange what
// a user and the scheduler arrange only now and then: a prompt answered and let go while the
// question it answered is still open, and a close request in between.

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <thread>

#include "app/win32/UpdateDlg.h"
#include "hid/Hid.h"
#include "sim/VirtualHidPort.h"
#include "tests/win32/GuardedHeap.h"
#include "tests/win32/WindowFixture.h"

namespace tarvex::testing {
namespace {

// This thread's visible top-level windows that show a prompt with `text`.
HWND FindPrompt(DWORD thread, const std::wstring& text) {
    struct Search {
        const std::wstring* Text;
        HWND Found = nullptr;
    } search{&text};
    ::EnumThreadWindows(
        thread,
        [](HWND window, LPARAM context) -> BOOL {
            auto& found = *reinterpret_cast<Search*>(context);
            if (::IsWindowVisible(window) && ::GetDlgItem(window, kPromptText) != nullptr &&
                ControlText(window, kPromptText) == *found.Text) {
                found.Found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The second question, asked on the window's thread while the first one's wait runs it.
struct NestedQuestion {
    CUpdateDlg* Dialog = nullptr;
    int Answer = -1;
};
NestedQuestion g_Nested;

void CALLBACK AskTheSecondQuestion(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    g_Nested.Answer = g_Nested.Dialog->ShowPrompt("second", kPromptNotice);
}

TEST(PromptLifetimeTest, ACloseRequestRightAfterAnAnswerLeavesTheLetGoPromptAlone) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usbDevices;
    const CFixedUiLanguage language(kLanguageEnglishUs);
    CHid hid(port, usbDevices, nullptr);
    CUpdateDlg dialog(language);
    CUpdateEngine engine(hid, dialog, language);
    ASSERT_TRUE(dialog.Create(engine, nullptr, nullptr));
    const DWORD windowThread = ::GetCurrentThreadId();

    // The user: answers the first prompt while the second is open, then closes the window. The
    // answer is sent, so the prompt has ended and its letting go is queued before the close
    // request is.
    std::thread user([&] {
        HWND first = nullptr;
        if (WaitUntil([&] {
                first = FindPrompt(windowThread, L"first");
                return first != nullptr && FindPrompt(windowThread, L"second") != nullptr;
            })) {
            ::SendMessageW(::GetDlgItem(first, kPromptOk), BM_CLICK, 0, 0);
            EXPECT_FALSE(::IsWindow(first));
        } else {
            ADD_FAILURE() << "the two prompts never showed";
        }
        ::PostMessageW(dialog.Window(), WM_CLOSE, 0, 0);
    });

    int first = -1;
    {
        // The first question is asked on the window's thread: its wait cannot take the answer
        // while the second one's wait, nested in it, runs; a worker's wait may lag the same way.
        const CGuardedHeapScope guard;
        g_Nested = NestedQuestion{&dialog};
        ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, AskTheSecondQuestion);
        first = dialog.ShowPrompt("first", kPromptQuestion);
    }
    user.join();
    EXPECT_EQ(first, tarvex::kPromptOk);  // the answer, not the button's id
    EXPECT_EQ(g_Nested.Answer, tarvex::kPromptCancel);
    // The close ends the window's loop; its quit message is left for loops outside it.
    dialog.RunMessageLoop();
    EXPECT_EQ(dialog.Window(), nullptr);
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

}  // namespace
}  // namespace tarvex::testing
