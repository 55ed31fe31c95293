// The Win32 window as a user meets it, driven from outside by control id: the demo program (the
// window over the built-in virtual device) runs as a process of its own, and this program reads
// its controls, presses its buttons, types keys and moves the pointer, as Windows test tools do.
// Runs under wine on a virtual X server (run-window-tests.sh), once in English and once with the
// Chinese user-interface language; the expected texts follow this process's own language.

#include "tests/win32/WindowFixture.h"

namespace tarvex::testing {
namespace {

TEST_F(WindowTest, StartsWithTheTemplatesControlsAndShowsTheDeviceVersion) {
    ASSERT_NO_FATAL_FAILURE(Start(L""));
    EXPECT_EQ(WindowText(m_hDialog), kCaption);
    EXPECT_EQ(ClassName(::GetDlgItem(m_hDialog, kVersionText)), L"Static");
    EXPECT_EQ(ClassName(::GetDlgItem(m_hDialog, kInstructionText)), L"Static");
    EXPECT_EQ(ClassName(::GetDlgItem(m_hDialog, kProgress)), L"msctls_progress32");
    EXPECT_EQ(ClassName(::GetDlgItem(m_hDialog, kUpdateButton)), L"Button");
    EXPECT_EQ(ControlText(m_hDialog, kInstructionText), Text(kTextInstructions));
    EXPECT_EQ(ProgressRange(m_hDialog, kProgress), std::make_pair(0, 100));
    EXPECT_EQ(ProgressPosition(m_hDialog, kProgress), 0);
    EXPECT_EQ(ControlText(m_hDialog, kUpdateButton), L"USB_Update");
    // The virtual device answers the version query at once.
    EXPECT_TRUE(WaitUntil([&] { return ControlText(m_hDialog, kVersionText) == L"V1.05"; }))
        << WideToUtf8(ControlText(m_hDialog, kVersionText));
    EXPECT_TRUE(ControlEnabled(m_hDialog, kUpdateButton));

    // The template's places in dialog units (the client area is 251 x 162 of them), each within
    // the rounding of the unit-to-pixel conversion.
    struct Place {
        int Id, X, Y, Width, Height;
    };
    RECT client{};
    ::GetClientRect(m_hDialog, &client);
    const double unitX = Width(client) / 251.0;
    const double unitY = Height(client) / 162.0;
    // A dialog unit is a quarter of the dialog font's average character width and an eighth of
    // its height: the font decides the pixels, but a 9-point face gives units of 1.2 to 2.5.
    EXPECT_GT(unitX, 1.2);
    EXPECT_LT(unitX, 2.5);
    EXPECT_GT(unitY, 1.2);
    EXPECT_LT(unitY, 2.5);
    for (const Place place :
         {Place{kVersionText, 83, 117, 85, 12}, Place{kInstructionText, 7, 23, 259, 82},
          Place{kProgress, 7, 7, 237, 14}, Place{kUpdateButton, 7, 133, 237, 22}}) {
        const RECT rect = ControlRect(m_hDialog, place.Id);
        SCOPED_TRACE("control " + std::to_string(place.Id));
        EXPECT_NEAR(rect.left, place.X * unitX, 2.0);
        EXPECT_NEAR(rect.top, place.Y * unitY, 2.0);
        EXPECT_NEAR(Width(rect), place.Width * unitX, 2.0);
        EXPECT_NEAR(Height(rect), place.Height * unitY, 2.0);
    }
}

TEST_F(WindowTest, WithoutADeviceTheButtonStaysDisabledAndTheVersionEmpty) {
    ASSERT_NO_FATAL_FAILURE(Start(L"--unplugged"));
    EXPECT_EQ(ControlText(m_hDialog, kVersionText), L"");
    EXPECT_FALSE(ControlEnabled(m_hDialog, kUpdateButton));
}

TEST_F(WindowTest, SwallowedKeysChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice());
    // Return would press the focused button, Escape cancel the dialog, F1 ask for help, Alt
    // open the system menu, Tab and the arrows move the focus.
    struct Key {
        WORD VirtualKey;
        const char* Name;
    };
    for (const Key key : {Key{VK_ESCAPE, "Escape"}, Key{VK_RETURN, "Return"}, Key{VK_TAB, "Tab"},
                          Key{VK_F1, "F1"}, Key{VK_LEFT, "Left"}, Key{VK_UP, "Up"},
                          Key{VK_RIGHT, "Right"}, Key{VK_DOWN, "Down"}, Key{VK_MENU, "Alt"}}) {
        SCOPED_TRACE(key.Name);
        HWND focusBefore = nullptr;
        GUITHREADINFO before{};
        before.cbSize = sizeof(before);
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(m_hDialog, nullptr), &before)) {
            focusBefore = before.hwndFocus;
        }
        TypeKey(m_hDialog, key.VirtualKey);
        // A key that got through would show within this time: a file dialog, a closed window,
        // a menu.
        ::Sleep(400);
        EXPECT_TRUE(::IsWindow(m_hDialog) && ::IsWindowVisible(m_hDialog));
        EXPECT_EQ(m_pProgram->TopLevelWindows().size(), 1u);
        EXPECT_EQ(ControlText(m_hDialog, kVersionText), L"V1.05");
        EXPECT_TRUE(ControlEnabled(m_hDialog, kUpdateButton));
        EXPECT_EQ(ProgressPosition(m_hDialog, kProgress), 0);
        GUITHREADINFO after{};
        after.cbSize = sizeof(after);
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(m_hDialog, nullptr), &after)) {
            EXPECT_EQ(after.hwndFocus, focusBefore);
            EXPECT_EQ(after.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE), 0u);
        }
    }
}

TEST_F(WindowTest, WholeUpdateThroughTheFileDialogThePromptAndTheSuccessBox) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--latency=15"));
    // Moved by the user to (200, 150): the prompt comes 60 right of and 125 below that corner.
    ::SetWindowPos(m_hDialog, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(WaitUntil([&] { return ScreenRect(m_hDialog).left == 200; }));
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);

    EXPECT_EQ(ControlText(prompt, kPromptText), VersionQuestion(1.15));
    EXPECT_EQ(ControlText(prompt, kPromptOk), L"OK");
    EXPECT_EQ(ControlText(prompt, kPromptCancel), L"CANCEL");
    const RECT placed = ScreenRect(prompt);
    EXPECT_EQ(placed.left, 260);
    EXPECT_EQ(placed.top, 275);
    EXPECT_EQ(Width(placed), 300);
    EXPECT_EQ(Height(placed), 127);
    const RECT ok = ControlRect(prompt, kPromptOk);
    const RECT cancel = ControlRect(prompt, kPromptCancel);
    EXPECT_EQ((std::array{ok.left, ok.top, ok.right, ok.bottom}),
              (std::array{60L, 90L, 130L, 112L}));
    EXPECT_EQ((std::array{cancel.left, cancel.top, cancel.right, cancel.bottom}),
              (std::array{170L, 90L, 240L, 112L}));
    // The main dialog takes no input while the prompt is open.
    EXPECT_FALSE(::IsWindowEnabled(m_hDialog));

    ClickButton(prompt, kPromptOk);
    EXPECT_TRUE(WaitUntil([&] {
        const int position = ProgressPosition(m_hDialog, kProgress);
        return position > 0 && position < 100;
    })) << "the bar never moved";
    EXPECT_FALSE(ControlEnabled(m_hDialog, kUpdateButton));

    HWND success = WaitForMessageBox(Text(kTextSuccess));
    ASSERT_NE(success, nullptr) << "no success message";
    EXPECT_EQ(WindowText(success), Text(kTextTitle));
    ::PostMessageW(success, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(BackToIdle());
    EXPECT_EQ(ControlText(m_hDialog, kVersionText), L"V1.05");
}

TEST_F(WindowTest, CancelInThePromptStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice());
    // Where the template puts it, at the screen's corner: the prompt goes where it would be over
    // a dialog of the same size centred on the screen.
    const RECT main = ScreenRect(m_hDialog);
    ASSERT_EQ(main.left, 0);
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    const RECT placed = ScreenRect(prompt);
    EXPECT_EQ(placed.left, (::GetSystemMetrics(SM_CXSCREEN) - Width(main)) / 2 + 60);
    EXPECT_EQ(placed.top, (::GetSystemMetrics(SM_CYSCREEN) - Height(main)) / 2 + 125);
    ClickButton(prompt, kPromptCancel);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }));
    EXPECT_TRUE(BackToIdle());
    // No transfer and no result message follow.
    EXPECT_EQ(WaitForMessageBox(Text(kTextSuccess), 1500ms), nullptr);
    EXPECT_EQ(m_pProgram->WaitForWindowWithControl(kPromptText, 500ms), nullptr);
    EXPECT_EQ(ProgressPosition(m_hDialog, kProgress), 0);
}

TEST_F(WindowTest, AFailureReplyGivesTheFailurePromptWithOkAlone) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--fail-at=5"));
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    ClickButton(prompt, kPromptOk);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }));

    HWND failure = m_pProgram->WaitForWindowWithControl(kPromptText);
    ASSERT_NE(failure, nullptr) << "no failure prompt";
    EXPECT_EQ(ControlText(failure, kPromptText), Text(kTextFailure));
    EXPECT_EQ(::GetDlgItem(failure, kPromptCancel), nullptr);
    const RECT ok = ControlRect(failure, kPromptOk);
    EXPECT_EQ((std::array{ok.left, ok.top, ok.right, ok.bottom}),
              (std::array{214L, 90L, 284L, 112L}));
    EXPECT_EQ(ControlText(failure, kPromptOk), L"OK");
    ClickButton(failure, kPromptOk);
    // The bar stays where the device failed; the button takes the next attempt.
    EXPECT_TRUE(WaitUntil(
        [&] { return ControlEnabled(m_hDialog, kUpdateButton) && ::IsWindowEnabled(m_hDialog); }));
    EXPECT_EQ(m_pProgram->WaitForWindowWithControl(kPromptText, 500ms), nullptr);
}

TEST_F(WindowTest, NoticesForABusyDeviceAndAMissingPermission) {
    struct Case {
        const wchar_t* Arguments;
        std::int32_t Text;
    };
    // Windows has no udev rule to name: its own words say what to do there.
    for (const Case notice : {Case{L"--busy", kTextDeviceBusy},
                              Case{L"--open-denied", kTextDeviceAccessDeniedWindows}}) {
        SCOPED_TRACE(WideToUtf8(notice.Arguments));
        // The version query needs the lock or the open as well: no version is shown.
        ASSERT_NO_FATAL_FAILURE(Start(notice.Arguments));
        ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
        ClickButton(m_hDialog, kUpdateButton);
        HWND prompt = m_pProgram->WaitForWindowWithControl(kPromptText);
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(ControlText(prompt, kPromptText), Text(notice.Text));
        EXPECT_EQ(::GetDlgItem(prompt, kPromptCancel), nullptr);
        ClickButton(prompt, kPromptOk);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }));
        EXPECT_EQ(m_pProgram->WaitForFileDialog(500ms), nullptr);
    }
}

TEST_F(WindowTest, TwoNoticesAtOnceKeepTheWindowDisabledUntilTheLastIsAnswered) {
    // Two quick presses while another program holds the device: a notice for each.
    ASSERT_NO_FATAL_FAILURE(Start(L"--busy"));
    ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
    ClickButton(m_hDialog, kUpdateButton);
    ClickButton(m_hDialog, kUpdateButton);
    ASSERT_TRUE(WaitUntil([&] { return OpenPrompts().size() == 2; }))
        << OpenPrompts().size() << " notices open";
    const std::vector<HWND> notices = OpenPrompts();
    EXPECT_FALSE(::IsWindowEnabled(m_hDialog));

    // The answered notice has re-enabled its owner, if it does, by the time its window is gone.
    ClickButton(notices[0], kPromptOk);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(notices[0]); }));
    EXPECT_TRUE(::IsWindow(notices[1]));
    EXPECT_FALSE(::IsWindowEnabled(m_hDialog)) << "the window takes input under an open notice";

    ClickButton(notices[1], kPromptOk);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(notices[1]); }));
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(m_hDialog) != FALSE; }));
}

// A drive-mode device whose volume comes late, never, or cannot be told from another device's:
// the window shows the wait and then the result, or the reason the copy failed.
TEST_F(WindowTest, ADriveCopyShowsTheWaitForTheVolumeThenTheSuccessBox) {
    // Mounted 4 s after the run first looks: the wait text stays at least that long.
    ASSERT_NO_FATAL_FAILURE(Start(L"--volume-late=4"));
    ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
    ClickButton(m_hDialog, kUpdateButton);
    HWND fileDialog = m_pProgram->WaitForFileDialog();
    ASSERT_NE(fileDialog, nullptr);
    ASSERT_TRUE(ChooseFile(fileDialog, m_Sample));
    EXPECT_TRUE(WaitUntil([&] {
        return ControlText(m_hDialog, kInstructionText) == VolumeWaitText(30);
    })) << WideToUtf8(ControlText(m_hDialog, kInstructionText));

    HWND success = WaitForMessageBox(Text(kTextSuccess));
    ASSERT_NE(success, nullptr) << "no success message";
    EXPECT_EQ(ControlText(m_hDialog, kInstructionText), Text(kTextInstructions));
    ::PostMessageW(success, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(m_hDialog) != FALSE; }));
    EXPECT_EQ(m_pProgram->WaitForWindowWithControl(kPromptText, 500ms), nullptr);
}

TEST_F(WindowTest, AFailedDriveCopyShowsItsReason) {
    struct Case {
        const wchar_t* Arguments;
        std::int32_t Reason;
        bool AsksForTheImage;
    };
    for (const Case failed :
         {Case{L"--volume-never --volume-wait=1", kTextVolumeNotMounted, true},
          // Refused before anything is chosen: two devices, and no way to tell whose it is.
          Case{L"--volume-untied", kTextCannotTellVolume, false}}) {
        SCOPED_TRACE(WideToUtf8(failed.Arguments));
        ASSERT_NO_FATAL_FAILURE(Start(failed.Arguments));
        ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
        ClickButton(m_hDialog, kUpdateButton);
        if (failed.AsksForTheImage) {
            HWND fileDialog = m_pProgram->WaitForFileDialog();
            ASSERT_NE(fileDialog, nullptr);
            ASSERT_TRUE(ChooseFile(fileDialog, m_Sample));
        }
        HWND notice = m_pProgram->WaitForWindowWithControl(kPromptText);
        ASSERT_NE(notice, nullptr) << "no failure notice";
        EXPECT_EQ(ControlText(notice, kPromptText), FailureWithReason(failed.Reason));
        EXPECT_EQ(::GetDlgItem(notice, kPromptCancel), nullptr);
        EXPECT_EQ(m_pProgram->WaitForFileDialog(0ms), nullptr);
        // The wait, if it was shown, has given its place back to the instructions.
        EXPECT_TRUE(WaitUntil([&] {
            return ControlText(m_hDialog, kInstructionText) == Text(kTextInstructions);
        })) << WideToUtf8(ControlText(m_hDialog, kInstructionText));
        ClickButton(notice, kPromptOk);
        EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(m_hDialog) != FALSE; }));
    }
}

TEST_F(WindowTest, ThePictureButtonsFollowThePointer) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice());
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    RECT ok = ControlRect(prompt, kPromptOk);
    ::MapWindowPoints(prompt, HWND_DESKTOP, reinterpret_cast<POINT*>(&ok), 2);
    // A corner of the picture: its background, dark red normally, orange when highlighted.
    const POINT corner{ok.left + 2, ok.top + 2};
    const POINT centre{(ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2};
    const POINT outside{ok.left - 30, ok.top - 40};
    const COLORREF red = RGB(141, 22, 30);
    const COLORREF orange = RGB(215, 152, 27);
    // The button follows the pointer off itself through its mouse capture, which takes the
    // pointer's moves only while the prompt's thread is in front. Under wine both programs move
    // the system's pointer: the window's program, handling an earlier move late, can put it back
    // where that move left it. So the pointer is put where the step wants it until it stays
    // there and the picture shows what that place means.
    for (const auto& [point, colour] :
         {std::pair{outside, red}, std::pair{centre, orange}, std::pair{outside, red}}) {
        ASSERT_TRUE(BringToFront(prompt)) << "the prompt never came to the front";
        EXPECT_TRUE(RestPointerUntil(point, [&] { return ScreenPixel(corner) == colour; }))
            << std::hex << ScreenPixel(corner) << " instead of " << colour << std::dec
            << " with the pointer at " << CursorPosition().x << ", " << CursorPosition().y
            << " for " << point.x << ", " << point.y;
    }
    ClickButton(prompt, kPromptCancel);
    EXPECT_TRUE(BackToIdle());
}

TEST_F(WindowTest, TheCloseCommandMidTransferEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice(L"--latency=60"));
    HWND prompt = PressUpdateAndChooseSample();
    ASSERT_NE(prompt, nullptr);
    ClickButton(prompt, kPromptOk);
    ASSERT_TRUE(WaitUntil([&] { return ProgressPosition(m_hDialog, kProgress) > 0; }));
    ::PostMessageW(m_hDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(m_pProgram->WaitForExit(10s)) << "still running 10 s after the close command";
    EXPECT_EQ(m_pProgram->ExitCode(), std::optional<DWORD>(0));
}

TEST_F(WindowTest, TheCloseCommandWhileTheFileDialogIsOpenEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice());
    ClickButton(m_hDialog, kUpdateButton);
    ASSERT_NE(m_pProgram->WaitForFileDialog(), nullptr);
    ::PostMessageW(m_hDialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(m_pProgram->WaitForExit(10s)) << "still running 10 s after the close command";
    EXPECT_EQ(m_pProgram->ExitCode(), std::optional<DWORD>(0));
}

TEST_F(WindowTest, TheCloseCommandWhileTheFileDialogShowsItsOwnMessageEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(StartWithDevice());
    ClickButton(m_hDialog, kUpdateButton);
    HWND fileDialog = m_pProgram->WaitForFileDialog();
    ASSERT_NE(fileDialog, nullptr);
    // A folder that does not exist: the file dialog says so in a message box of its own.
    ASSERT_TRUE(ChooseFile(fileDialog, L"C:\\no-such-folder-here\\image.dat"));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND window : m_pProgram->TopLevelWindows()) {
            if (::GetWindow(window, GW_OWNER) == fileDialog) {
                box = window;
                return true;
            }
        }
        return false;
    })) << "the file dialog showed no message";
    EXPECT_EQ(ClassName(box), L"#32770");
    ::PostMessageW(m_hDialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(m_pProgram->WaitForExit(10s)) << "still running 10 s after the close command";
    EXPECT_EQ(m_pProgram->ExitCode(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace tarvex::testing
