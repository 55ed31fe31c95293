// The window's context menu: a right press on the dialog's surface opens it, and its entry puts
// the last run's record on the clipboard, in the window's language.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QtTest/QTest>

#include "app/LastRunText.h"
#include "app/qt/LastRunMenu.h"
#include "app/qt/UpdateDlg.h"
#include "tests/app/WindowTestSupport.h"
#include "ui/LocalizedText.h"

namespace tarvex {
namespace {

using testing::ProcessUntil;

// A view that does nothing: the recorder here only has to exist.
class CSilentView final : public CUpdateView {
public:
    void EnableUpdateButton(bool) override {}
    void SetVersionText(const std::string&) override {}
    void SetProgress(unsigned) override {}
    int ShowPrompt(const std::string&, int) override { return kPromptOk; }
    void ShowSuccessBox(const std::string&, const std::string&) override {}
    std::optional<std::filesystem::path> AskImagePath(const std::string&,
                                                      const std::filesystem::path&) override {
        return std::nullopt;
    }
    void OnUpdateRunEnded(UpdateOutcome) override {}
};

RunRecord FailedRun() {
    RunRecord record;
    record.Time = std::chrono::sys_days(std::chrono::year(2026) / 12 / 11);
    record.Program = "tarvex-update";
    record.Device = DeviceRecord{"hid", 0x3A7E, 0x6A11, "SN-7", "/dev/hidraw2"};
    record.DeviceVersion = "V1.05";
    record.Image = ImageRecord{"fw.dat", 4636, std::string(64, 'c'), "V1.15"};
    record.Outcome = "failed";
    record.Reason = "Firmware update failure";
    record.Reports = {"> 81 01", "< 81 15"};
    return record;
}

struct LastRunMenuFixture : ::testing::Test {
    void TearDown() override {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        std::filesystem::remove_all(folder);
    }

    // Shows the dialog with the menu over `history`, presses the right button on its surface
    // and returns the menu that opened.
    QMenu* OpenMenu(const CUiLanguage& language) {
        pDialog = std::make_unique<CUpdateDlg>(language);
        new CLastRunMenu(*pDialog, language, [this] { return LastRunText(&history, recorder); });
        pDialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pDialog.get()));
        // Above the instructions' label, on the dialog's own surface.
        const QPoint surface = pDialog->InstructionText()->geometry().topLeft() - QPoint(2, 2);
        QTest::mousePress(pDialog->windowHandle(), Qt::RightButton, {}, surface);
        QTest::mouseRelease(pDialog->windowHandle(), Qt::RightButton, {}, surface);
        QMenu* menu = nullptr;
        ProcessUntil([&] {
            menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            return menu != nullptr;
        });
        return menu;
    }

    std::filesystem::path folder = std::filesystem::temp_directory_path() / "tarvex-last-run-menu";
    CRunHistory history{folder / kHistoryFileName};
    CSilentView silent;
    CRecordingUpdateView recorder{silent, RecordingSources{}};
    CFixedUiLanguage english{kLanguageEnglishUs};
    CFixedUiLanguage chinese{kLanguageChineseSimplifiedPrc};
    std::unique_ptr<CUpdateDlg> pDialog;
};

TEST_F(LastRunMenuFixture, TheEntryCopiesTheLastRecordAsText) {
    RunRecord earlier = FailedRun();
    earlier.Reason = "an earlier run";
    ASSERT_TRUE(history.Append(earlier).Ok());
    ASSERT_TRUE(history.Append(FailedRun()).Ok());
    QGuiApplication::clipboard()->setText("before");

    QMenu* menu = OpenMenu(english);
    ASSERT_NE(menu, nullptr) << "no menu opened on a right press";
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* copy = menu->actions().front();
    EXPECT_EQ(copy->text().toStdString(), "Copy the last update's details");
    ASSERT_TRUE(copy->isEnabled());
    copy->trigger();
    const std::string copied = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(copied, ReadableDetails(FailedRun()));
    EXPECT_NE(copied.find("Last reports:\n> 81 01\n< 81 15\n"), std::string::npos) << copied;
}

TEST_F(LastRunMenuFixture, WithoutARecordTheEntryIsThereButDisabled) {
    QMenu* menu = OpenMenu(chinese);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text().toStdString(),
              LoadLocalizedString(kTextCopyLastRun, kLanguageChineseSimplifiedPrc));
    EXPECT_FALSE(menu->actions().front()->isEnabled());
}

}  // namespace
}  // namespace tarvex
