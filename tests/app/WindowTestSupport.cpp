#include "tests/app/WindowTestSupport.h"

#include "ui/qt/ButtonEx.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <chrono>
#include <random>
#include <thread>

namespace tarvex::testing {

namespace {

QWindow& WindowOf(QWidget& widget) {
    QWindow* window = widget.window()->windowHandle();
    EXPECT_NE(window, nullptr);
    return *window;
}

// `pos` in `widget` to the coordinates of its top-level window.
QPoint InWindow(QWidget& widget, QPoint pos) {
    return widget.mapTo(widget.window(), pos);
}

}  // namespace

bool ProcessUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kWindowHangGuard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void MoveMouse(QWidget& widget, QPoint pos) {
    QTest::mouseMove(&WindowOf(widget), InWindow(widget, pos));
    QCoreApplication::processEvents();
}

void PressMouse(QWidget& widget, QPoint pos) {
    QTest::mousePress(&WindowOf(widget), Qt::LeftButton, {}, InWindow(widget, pos));
    QCoreApplication::processEvents();
}

void ReleaseMouse(QWidget& widget, QPoint pos) {
    QTest::mouseRelease(&WindowOf(widget), Qt::LeftButton, {}, InWindow(widget, pos));
    QCoreApplication::processEvents();
}

void ClickMouse(QWidget& widget, QPoint pos) {
    MoveMouse(widget, pos);
    PressMouse(widget, pos);
    ReleaseMouse(widget, pos);
}

void PressKey(QWidget& widget, Qt::Key key) {
    QTest::keyClick(&WindowOf(widget), key);
    QCoreApplication::processEvents();
}

void WindowFixture::TearDown() {
    if (m_pDlg) {
        CloseWindow();
    }
    m_pEngine.reset();
    m_pDlg.reset();
    m_pHid.reset();
    // Question windows are deleted later; let that happen before the next test looks around.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    if (!m_Folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_Folder, error);
    }
}

void WindowFixture::StartWindow(QPoint position) {
    m_pHid = std::make_unique<CHid>(m_Port, m_Usb, &m_Notices);
    m_pDlg = std::make_unique<CUpdateDlg>(m_Language);
    m_pEngine =
        std::make_unique<CUpdateEngine>(*m_pHid, *m_pDlg, m_Language, m_DriveCopy, m_Guards);
    m_pDlg->move(position);
    m_pDlg->Start(*m_pEngine, &m_Notices);
    m_pDlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    m_pDlg->activateWindow();
    QCoreApplication::processEvents();
}

void WindowFixture::CloseWindow() {
    if (m_pDlg->isVisible()) {
        m_pDlg->close();
    } else {
        m_pDlg->done(QDialog::Rejected);
    }
}

std::filesystem::path WindowFixture::WriteImage(const sim::SampleImageSpec& spec) {
    if (m_Folder.empty()) {
        std::random_device random;
        m_Folder =
            std::filesystem::temp_directory_path() / ("tarvex-window-" + std::to_string(random()));
        std::filesystem::create_directories(m_Folder);
    }
    const auto path = m_Folder / ("image-" + std::to_string(spec.Seed) + ".dat");
    EXPECT_TRUE(sim::WriteSampleImage(path, spec));
    return path;
}

void WindowFixture::ClickUpdateButton() {
    QPushButton& button = *m_pDlg->UpdateButton();
    ASSERT_TRUE(ProcessUntil([&] { return button.isEnabled(); }));
    ClickMouse(button, button.rect().center());
}

void WindowFixture::ChooseFile(const std::filesystem::path& path) {
    QFileDialog* dialog = WaitForWindow<QFileDialog>();
    ASSERT_NE(dialog, nullptr) << "no file dialog appeared";
    // Typed into the file name box and confirmed with Return, as a user does.
    auto* fileName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(fileName, nullptr);
    fileName->setFocus();
    fileName->setText(QString::fromStdString(path.string()));
    PressKey(*dialog, Qt::Key_Return);
    ASSERT_TRUE(ProcessUntil([] { return FindWindow<QFileDialog>() == nullptr; }))
        << "the file dialog did not take " << path;
}

void WindowFixture::AnswerPrompt(const std::string& expectedText, bool ok) {
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr) << "no prompt appeared";
    EXPECT_EQ(prompt->TextControl()->text().toStdString(), expectedText);
    CButtonEx* button = ok ? prompt->OkButton() : prompt->CancelButton();
    ASSERT_NE(button, nullptr);
    const QPointer<CPromptDlg> answered(prompt);
    ClickMouse(*button, button->rect().center());
    // The next prompt may follow at once; this one must be gone.
    ASSERT_TRUE(ProcessUntil([&] {
        const CPromptDlg* still = answered.data();
        return still == nullptr || !still->isVisible();
    }));
}

bool WindowFixture::WaitForVersionText(const QString& text) {
    return ProcessUntil([&] { return m_pDlg->VersionText()->text() == text; });
}

bool WindowFixture::WaitForWorkersToEnd() {
    return ProcessUntil([&] { return m_pEngine->RunningWorkers() == 0; });
}

}  // namespace tarvex::testing
