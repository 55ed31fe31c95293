// Screenshots of the Win32 window's states, taken from the screen (the X server's pixels under
// wine): the main dialog idle, with the device attached, mid-transfer and waiting for a drive-mode
// device's volume, and the prompt as a question, with its OK button under the pointer, as the
// failure notice, the permission notice, the device-busy notice and with a failed drive copy's
// reason. Saved as 24-bit bitmaps in TARVEX_SHOTS_DIR with the language's
// suffix (-en, -zh); scripts/screenshots-windows.sh runs them and makes PNG files of them.
// Without TARVEX_SHOTS_DIR they skip.

#include <algorithm>

#include "tests/win32/WindowFixture.h"

namespace tarvex::testing {
namespace {

class WindowShots : public WindowTest {
protected:
    void SetUp() override {
        m_Folder = Environment("TARVEX_SHOTS_DIR");
        if (m_Folder.empty()) {
            GTEST_SKIP() << "TARVEX_SHOTS_DIR names no folder for the screenshots";
        }
        WindowTest::SetUp();
    }

    // Saves the screen under the program's windows, with a margin.
    void Shoot(const std::wstring& name) {
        // Lets the window system draw what was asked of it before its pixels are read.
        ::Sleep(400);
        RECT area = ScreenRect(m_hDialog);
        for (HWND window : m_pProgram->TopLevelWindows()) {
            const RECT rect = ScreenRect(window);
            ::UnionRect(&area, &area, &rect);
        }
        ::InflateRect(&area, 12, 12);
        area.left = std::max(area.left, 0L);
        area.top = std::max(area.top, 0L);
        const std::wstring suffix = Language() == kLanguageChineseSimplifiedPrc ? L"-zh" : L"-en";
        const std::wstring path = m_Folder + L"\\" + name + suffix + L".bmp";
        ASSERT_TRUE(SaveScreenArea(area, path)) << WideToUtf8(path);
    }

    // A prompt that comes when the update button is pressed (a notice before any file dialog).
    void ShootNoticeOnPress(const std::wstring& arguments, const std::wstring& name) {
        ASSERT_NO_FATAL_FAILURE(Start(arguments));
        ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
        ClickButton(m_hDialog, kUpdateButton);
        HWND prompt = m_pProgram->WaitForWindowWithControl(kPromptText);
        ASSERT_NE(prompt, nullptr);
        MovePointer(POINT{0, 0});
        Shoot(name);
    }

    std::wstring m_Folder;
};

TEST_F(WindowShots, MainDialog) {
    ASSERT_NO_FATAL_FAILURE(Start(L"--unplugged"));
    MovePointer(POINT{0, 0});
    Shoot(L"main-idle");
    m_pProgram.reset();

    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--latency=5 --silence-at=40"));
    Shoot(L"main-device");
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    ClickButton(prompt, kPromptOk);
    // The device falls silent at packet 40: the transfer stands still there for the picture.
    ASSERT_TRUE(WaitUntil([&] {
        const int before = ProgressPosition(m_hDialog, kProgress);
        ::Sleep(300);
        return before > 10 && ProgressPosition(m_hDialog, kProgress) == before;
    })) << ProgressPosition(m_hDialog, kProgress);
    Shoot(L"main-transfer");
}

TEST_F(WindowShots, Prompts) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--fail-at=3"));
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    MovePointer(POINT{0, 0});
    Shoot(L"prompt-question");

    RECT ok = ControlRect(prompt, kPromptOk);
    ::MapWindowPoints(prompt, HWND_DESKTOP, reinterpret_cast<POINT*>(&ok), 2);
    ASSERT_TRUE(BringToFront(prompt));
    ASSERT_TRUE(RestPointerUntil(POINT{(ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2}, [&] {
        return ScreenPixel(POINT{ok.left + 2, ok.top + 2}) == RGB(215, 152, 27);
    }));
    Shoot(L"prompt-highlighted");

    ClickButton(prompt, kPromptOk);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }));
    HWND failure = m_pProgram->WaitForWindowWithControl(kPromptText);
    ASSERT_NE(failure, nullptr);
    MovePointer(POINT{0, 0});
    Shoot(L"prompt-notice");
    m_pProgram.reset();

    ASSERT_NO_FATAL_FAILURE(ShootNoticeOnPress(L"--open-denied", L"prompt-permission"));
    m_pProgram.reset();
    ASSERT_NO_FATAL_FAILURE(ShootNoticeOnPress(L"--busy", L"prompt-busy"));
}

// A drive copy: the window while it waits for the device's volume, and a failed copy's notice with
// its longest reason.
TEST_F(WindowShots, DriveCopy) {
    ASSERT_NO_FATAL_FAILURE(Start(L"--volume-never"));
    ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
    ClickButton(m_hDialog, kUpdateButton);
    HWND fileDialog = m_pProgram->WaitForFileDialog();
    ASSERT_NE(fileDialog, nullptr);
    ASSERT_TRUE(ChooseFile(fileDialog, m_Sample));
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(m_hDialog, kInstructionText) == VolumeWaitText(30) &&
               m_pProgram->WaitForFileDialog(0ms) == nullptr;
    })) << WideToUtf8(ControlText(m_hDialog, kInstructionText));
    MovePointer(POINT{0, 0});
    Shoot(L"main-volume-wait");
    m_pProgram.reset();

    ASSERT_NO_FATAL_FAILURE(ShootNoticeOnPress(L"--volume-untied", L"prompt-copy-failure"));
}

}  // namespace
}  // namespace tarvex::testing
