// Screenshots of the window's states, taken from a real X server (scripts/screenshots.sh runs
// this under Xvfb): the main dialog idle, with the device attached, mid-transfer, waiting for a
// drive-mode device's volume, and the prompt as a question, as a notice, with its OK button
// under the pointer, with the longest notice and with a failed copy's reason; in English and in
// Chinese. Each picture is what the X server shows: the
// screen's pixels, not a rendering of the widgets into an image.

#include <QCursor>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <future>

#include "tests/app/WindowTestSupport.h"
#include "ui/LocalizedText.h"
#include "ui/qt/ButtonEx.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

struct ShotLanguage {
    const char* Suffix;
    LanguageId Language;
};

class WindowShots : public WindowFixture, public ::testing::WithParamInterface<ShotLanguage> {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
            GTEST_SKIP() << "screenshots need an X server (QT_QPA_PLATFORM=xcb)";
        }
        const char* folder = std::getenv("TARVEX_SHOTS_DIR");
        m_ShotFolder = folder != nullptr ? folder : ".";
        m_Language = CFixedUiLanguage(GetParam().Language);
    }

    // Saves the screen's pixels under the dialog and the windows over it.
    void Shoot(const std::string& name) {
        // Lets the X server draw what Qt sent before its pixels are read.
        QTest::qWait(300);
        QRect area = m_pDlg->frameGeometry();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible()) {
                area |= widget->frameGeometry();
            }
        }
        area.adjust(-12, -12, 12, 12);
        const QPixmap pixels = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        const auto path = m_ShotFolder / (name + "-" + GetParam().Suffix + ".png");
        ASSERT_TRUE(pixels.save(QString::fromStdString(path.string()), "PNG")) << path;
        std::cout << "screenshot: " << path.string() << std::endl;
    }

    std::future<int> AskFromWorker(std::string text, int mode) {
        return std::async(std::launch::async, [this, text = std::move(text), mode] {
            return m_pDlg->ShowPrompt(text, mode);
        });
    }

    std::string Text(std::int32_t index) { return LoadLocalizedString(index, m_Language); }

    std::filesystem::path m_ShotFolder;
};

TEST_P(WindowShots, MainDialog) {
    StartWindow(QPoint(120, 90));
    Shoot("main-idle");

    m_Port.AttachUpdateDevice(m_pDevice);
    m_Notices.HidDevicePlugged();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    Shoot("main-device");

    m_pDevice->SetReplyLatency(2ms);
    sim::SampleImageSpec spec;
    spec.PayloadLength = 32000;
    const auto image = WriteImage(spec);
    ClickUpdateButton();
    ChooseFile(image);
    CPromptDlg* question = WaitForWindow<CPromptDlg>();
    ASSERT_NE(question, nullptr);
    question->OnCommand(kPromptOkControl);
    ASSERT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() >= 40; }));
    // The device falls silent: the transfer stands still at this point for the picture.
    m_pDevice->SetSilent(true);
    QTest::qWait(100);
    Shoot("main-transfer");
}

TEST_P(WindowShots, Prompts) {
    StartWindow(QPoint(120, 90));
    m_pDlg->SetVersionText("V1.05");
    m_pDlg->EnableUpdateButton(true);

    char question[128];
    std::snprintf(question, sizeof question, Text(kTextConfirmVersion).c_str(), 1.15);
    auto asked = AskFromWorker(question, kPromptQuestion);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    QCursor::setPos(m_pDlg->mapToGlobal(QPoint(m_pDlg->width() - 4, 4)));
    Shoot("prompt-question");

    CButtonEx& ok = *prompt->OkButton();
    QCursor::setPos(ok.mapToGlobal(ok.rect().center()));
    ASSERT_TRUE(
        ProcessUntil([&] { return ok.CurrentPicture() == CButtonEx::Picture::Highlighted; }));
    Shoot("prompt-highlighted");
    prompt->OnCommand(kPromptCancelControl);
    asked.get();
    QCursor::setPos(m_pDlg->mapToGlobal(QPoint(m_pDlg->width() - 4, 4)));

    auto notice = AskFromWorker(Text(kTextFailure), kPromptNotice);
    ASSERT_NE(WaitForWindow<CPromptDlg>(), nullptr);
    Shoot("prompt-notice");
    WaitForWindow<CPromptDlg>()->OnCommand(kPromptOkControl);
    notice.get();

    auto permission = AskFromWorker(Text(kTextDevicePermissionDenied), kPromptNotice);
    ASSERT_NE(WaitForWindow<CPromptDlg>(), nullptr);
    Shoot("prompt-permission");
    WaitForWindow<CPromptDlg>()->OnCommand(kPromptOkControl);
    permission.get();

    auto busy = AskFromWorker(Text(kTextDeviceBusy), kPromptNotice);
    ASSERT_NE(WaitForWindow<CPromptDlg>(), nullptr);
    Shoot("prompt-busy");
    WaitForWindow<CPromptDlg>()->OnCommand(kPromptOkControl);
    busy.get();
}

// A drive copy: the window while it waits for the device's volume and while it mounts it, and a
// failed copy's notice
// with its longest reason.
TEST_P(WindowShots, DriveCopy) {
    StartWindow(QPoint(120, 90));
    m_pDlg->ShowDriveVolumeWait(std::chrono::seconds(30));
    ASSERT_TRUE(ProcessUntil(
        [&] { return m_pDlg->InstructionText()->text().contains(QStringLiteral("30")); }));
    Shoot("main-volume-wait");

    m_pDlg->ShowDriveMountStep({DriveMountStep::Mounting, "/dev/sdb", {}, {}});
    const QString mounting = QString::fromStdString(Text(kTextMountingVolume)).split('\r')[0];
    ASSERT_TRUE(ProcessUntil([&] { return m_pDlg->InstructionText()->text().contains(mounting); }));
    Shoot("main-mounting");

    auto failed = std::async(std::launch::async, [this] {
        return m_pDlg->ShowFailureNotice(Text(kTextFailure), Text(kTextNoVolumeOfTheDevicesSize));
    });
    ASSERT_NE(WaitForWindow<CPromptDlg>(), nullptr);
    Shoot("prompt-copy-failure");
    WaitForWindow<CPromptDlg>()->OnCommand(kPromptOkControl);
    failed.get();
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowShots,
                         ::testing::Values(ShotLanguage{"en", kLanguageEnglishUs},
                                           ShotLanguage{"zh", kLanguageChineseSimplifiedPrc}),
                         [](const auto& shot) { return std::string(shot.param.Suffix); });

}  // namespace
}  // namespace tarvex::testing
