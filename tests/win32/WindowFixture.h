#pragma once
// The demo window as one test sees it: the program started with its options, its main dialog
// found by caption, and the steps every scenario takes (press, choose the sample, wait for a
// message box, wait until the window is idle again). Texts expected in this process's own
// user-interface language.
//
// TARVEX_DEMO and TARVEX_SAMPLE name the demo program and the sample image (V1.15) as Windows
// paths.

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/windows/Utf16Text.h"
#include "tests/win32/WindowDriver.h"
#include "ui/LocalizedText.h"

namespace tarvex::testing {

inline constexpr int kInstructionText = 115;
inline constexpr int kVersionText = 116;
inline constexpr int kProgress = 119;
inline constexpr int kUpdateButton = 123;
inline constexpr int kPromptText = 114;
inline constexpr int kPromptOk = 124;
inline constexpr int kPromptCancel = 127;

inline constexpr const wchar_t* kCaption = L"Tarvex Update V1.0";

inline std::wstring Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? Utf8ToWide(value) : std::wstring();
}

inline LanguageId Language() {
    return ::GetUserDefaultUILanguage();
}

inline std::wstring Text(std::int32_t index) {
    return Utf8ToWide(LoadLocalizedString(index, Language()));
}

inline std::wstring VersionQuestion(double version) {
    char text[160];
    std::snprintf(text, sizeof text, LoadLocalizedString(kTextConfirmVersion, Language()).c_str(),
                  version);
    return Utf8ToWide(text);
}

// The instruction text while a drive-mode run waits `seconds` at most for the device's volume.
inline std::wstring VolumeWaitText(int seconds) {
    std::string text = LoadLocalizedString(kTextWaitingForVolume, Language());
    if (const auto at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(seconds));
    }
    return Utf8ToWide(text);
}

// A failed drive copy's notice: the failure text, and below it the reason.
inline std::wstring FailureWithReason(std::int32_t reason) {
    return Text(kTextFailure) + L"\r\n" + Text(reason);
}

inline int Width(const RECT& rect) {
    return rect.right - rect.left;
}

inline int Height(const RECT& rect) {
    return rect.bottom - rect.top;
}

// The window program and its main dialog, as one test sees them.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Demo = Environment("TARVEX_DEMO");
        m_Sample = Environment("TARVEX_SAMPLE");
        ASSERT_FALSE(m_Demo.empty()) << "TARVEX_DEMO names the demo program";
        ASSERT_FALSE(m_Sample.empty()) << "TARVEX_SAMPLE names the sample image";
    }

    // Starts the demo with `arguments` and waits for its main dialog.
    void Start(const std::wstring& arguments) {
        m_pProgram = std::make_unique<CWindowProgram>(m_Demo, arguments);
        ASSERT_TRUE(m_pProgram->Started()) << "cannot start the demo";
        m_hDialog = m_pProgram->WaitForWindow(kCaption);
        ASSERT_NE(m_hDialog, nullptr) << "no window captioned 'Tarvex Update V1.0'";
    }

    void StartWithDevice(const std::wstring& arguments = L"") {
        Start(arguments);
        ASSERT_TRUE(WaitUntil([&] { return ControlText(m_hDialog, kVersionText) == L"V1.05"; }))
            << "version text: " << WideToUtf8(ControlText(m_hDialog, kVersionText));
        ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(m_hDialog, kUpdateButton); }));
    }

    // Presses the update button and chooses the sample image; returns the prompt that asks
    // for the version.
    HWND PressUpdateAndChooseSample() {
        ClickButton(m_hDialog, kUpdateButton);
        HWND fileDialog = m_pProgram->WaitForFileDialog();
        EXPECT_NE(fileDialog, nullptr) << "no file dialog";
        if (fileDialog == nullptr) {
            return nullptr;
        }
        EXPECT_TRUE(ChooseFile(fileDialog, m_Sample)) << "the file dialog never took the sample";
        HWND prompt = m_pProgram->WaitForWindowWithControl(kPromptText);
        EXPECT_NE(prompt, nullptr) << "no prompt";
        return prompt;
    }

    // The message box of the process whose static texts include `text`; null when none came.
    HWND WaitForMessageBox(const std::wstring& text,
                           std::chrono::milliseconds limit = kPatience) const {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (HWND window : m_pProgram->TopLevelWindows()) {
                    if (window == m_hDialog || ClassName(window) != L"#32770") {
                        continue;
                    }
                    for (const std::wstring& shown : StaticTexts(window)) {
                        if (shown == text) {
                            found = window;
                            return true;
                        }
                    }
                }
                return false;
            },
            limit);
        return found;
    }

    // Every open prompt of the program (top-level windows with the prompt's text control).
    std::vector<HWND> OpenPrompts() const {
        std::vector<HWND> prompts;
        for (HWND window : m_pProgram->TopLevelWindows()) {
            if (::GetDlgItem(window, kPromptText) != nullptr) {
                prompts.push_back(window);
            }
        }
        return prompts;
    }

    bool BackToIdle() const {
        return WaitUntil([&] {
            return ProgressPosition(m_hDialog, kProgress) == 0 &&
                   ControlEnabled(m_hDialog, kUpdateButton) &&
                   ::IsWindowEnabled(m_hDialog) != FALSE;
        });
    }

    std::wstring m_Demo;
    std::wstring m_Sample;
    std::unique_ptr<CWindowProgram> m_pProgram;
    HWND m_hDialog = nullptr;
};

}  // namespace tarvex::testing
