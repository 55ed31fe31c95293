#pragma once
// The window over the virtual device, for tests under the offscreen platform (or a real X
// server): the dialog, the engine and the virtual device wired as the demo wires them, and
// helpers that wait for the window to reach a state and act on it as a user would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPoint>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

#include "app/qt/UpdateDlg.h"
#include "hid/Hid.h"
#include "sim/SampleImage.h"
#include "sim/VirtualDeviceNotices.h"
#include "sim/VirtualHidPort.h"
#include "ui/qt/PromptDlg.h"

class QFileDialog;
class QMessageBox;

namespace tarvex::testing {

// Bound for waits on the window and the engine's threads; a guard against hangs only.
inline constexpr std::chrono::seconds kWindowHangGuard{20};

// Runs the event loop until `condition` holds; false if it never did within the hang guard.
bool ProcessUntil(const std::function<bool()>& condition);

// The visible top-level window of type T, or null.
template <typename T>
T* FindWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = dynamic_cast<T*>(widget); found != nullptr && found->isVisible()) {
            return found;
        }
    }
    return nullptr;
}

template <typename T>
T* WaitForWindow() {
    T* found = nullptr;
    ProcessUntil([&] { return (found = FindWindow<T>()) != nullptr; });
    return found;
}

// Mouse actions through the window system's path (enter and leave included), at `pos` in
// `widget`'s coordinates.
void MoveMouse(QWidget& widget, QPoint pos);
void PressMouse(QWidget& widget, QPoint pos);
void ReleaseMouse(QWidget& widget, QPoint pos);
void ClickMouse(QWidget& widget, QPoint pos);
// A key pressed and released in `widget`'s window, delivered as the window system delivers it.
void PressKey(QWidget& widget, Qt::Key key);

class WindowFixture : public ::testing::Test {
protected:
    void TearDown() override;

    // Builds the dialog and the engine and runs the start-up detection; shows the dialog at
    // `position` and waits until it is exposed.
    void StartWindow(QPoint position = QPoint(200, 150));
    // Closes the dialog as its close box does.
    void CloseWindow();

    // Writes an image made from `spec` into a scratch folder.
    std::filesystem::path WriteImage(const sim::SampleImageSpec& spec);
    // Presses the enabled update button with the mouse.
    void ClickUpdateButton();
    // Waits for the file dialog and chooses `path` in it.
    void ChooseFile(const std::filesystem::path& path);
    // Waits for a prompt, checks its text, and clicks its OK (or CANCEL) button.
    void AnswerPrompt(const std::string& expectedText, bool ok = true);
    bool WaitForVersionText(const QString& text);
    bool WaitForWorkersToEnd();

    std::filesystem::path m_Folder;
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    sim::CVirtualDeviceNotices m_Notices;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    DriveCopyServices m_DriveCopy;
    RunGuardServices m_Guards;
    std::unique_ptr<CHid> m_pHid;
    std::unique_ptr<CUpdateDlg> m_pDlg;
    std::unique_ptr<CUpdateEngine> m_pEngine;
};

}  // namespace tarvex::testing
