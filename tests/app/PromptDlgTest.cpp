// The prompt: where it goes, its buttons by mode, every way it ends, and its pictures' states
// under the pointer.

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <future>
#include <thread>

#include "tests/app/WindowTestSupport.h"
#include "ui/LocalizedText.h"
#include "ui/qt/ButtonEx.h"

namespace tarvex::testing {
namespace {

class PromptDlgTest : public WindowFixture {
protected:
    // Asks the dialog's ShowPrompt from a worker, as the engine does; the answer comes later.
    std::future<int> AskFromWorker(std::string text, int mode) {
        return std::async(std::launch::async, [this, text = std::move(text), mode] {
            return m_pDlg->ShowPrompt(text, mode);
        });
    }

    // Waits for the answer while the window keeps running.
    int AnswerOf(std::future<int>& answer) {
        EXPECT_TRUE(ProcessUntil(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return answer.get();
    }
};

TEST_F(PromptDlgTest, GoesBelowTheMainDialogsCorner) {
    StartWindow(QPoint(200, 150));
    auto answer = AskFromWorker("text", kPromptNotice);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->geometry(), QRect(260, 275, 300, 127));
    prompt->OnCommand(kPromptOkControl);
    EXPECT_EQ(AnswerOf(answer), kPromptOk);
}

TEST_F(PromptDlgTest, GoesOverACentredDialogWhenTheDialogIsAtTheScreensEdge) {
    StartWindow(QPoint(0, 150));
    auto answer = AskFromWorker("text", kPromptNotice);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QSize dialog = m_pDlg->frameGeometry().size();
    EXPECT_EQ(prompt->pos(), QPoint((screen.width() - dialog.width()) / 2 + 60,
                                    (screen.height() - dialog.height()) / 2 + 125));
    prompt->OnCommand(kPromptOkControl);
    AnswerOf(answer);
}

TEST_F(PromptDlgTest, ButtonsByMode) {
    struct Case {
        int Mode;
        QRect Ok;
        bool HasCancel;
    };
    const Case cases[] = {
        {kPromptQuestion, QRect(60, 90, 70, 22), true},
        {kPromptNotice, QRect(214, 90, 70, 22), false},
        {2, QRect(214, 90, 70, 22), false},
        {-1, QRect(214, 90, 70, 22), false},
    };
    StartWindow();
    for (const Case& c : cases) {
        auto answer = AskFromWorker("", c.Mode);
        CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->size(), QSize(300, 127));
        ASSERT_NE(prompt->OkButton(), nullptr);
        EXPECT_EQ(prompt->OkButton()->geometry(), c.Ok) << "mode " << c.Mode;
        EXPECT_EQ(ControlId(*prompt->OkButton()), kPromptOkControl);
        EXPECT_EQ(prompt->CancelButton() != nullptr, c.HasCancel) << "mode " << c.Mode;
        if (c.HasCancel) {
            EXPECT_EQ(prompt->CancelButton()->geometry(), QRect(170, 90, 70, 22));
            EXPECT_EQ(ControlId(*prompt->CancelButton()), kPromptCancelControl);
        }
        // An empty text is an empty dark red text control; the buttons still work.
        EXPECT_EQ(ControlId(*prompt->TextControl()), kPromptTextControl);
        EXPECT_TRUE(prompt->TextControl()->text().isEmpty());
        const QImage text = prompt->TextControl()->grab().toImage();
        EXPECT_EQ(text.pixelColor(2, 2), QColor(141, 22, 30));
        ClickMouse(*prompt->OkButton(), QPoint(35, 11));
        EXPECT_EQ(AnswerOf(answer), kPromptOk) << "mode " << c.Mode;
        ASSERT_TRUE(ProcessUntil([] { return FindWindow<CPromptDlg>() == nullptr; }));
    }
}

// Every text the engine shows in the prompt fits its panel, in both languages.
TEST_F(PromptDlgTest, EveryTextFitsThePanel) {
    StartWindow();
    for (const LanguageId language : {kLanguageEnglishUs, kLanguageChineseSimplifiedPrc}) {
        // A drive copy's reason goes below the failure text.
        for (const std::int32_t index :
             {kTextOpenFileError, kTextConfirmBetaVersion, kTextSuccess, kTextFailure,
              kTextDevicePermissionDenied, kTextDeviceBusy, kTextNoVolumeOfTheDevicesSize,
              kTextVolumeNotMounted, kTextDeviceLeftBeforeItsVolume, kTextVolumeFull,
              kTextVolumeReadOnly, kTextVolumeWriteDenied, kTextVolumeWriteBroke,
              kTextVolumeNoLongerThere, kTextCopyNameTaken, kTextVolumeWriteFailed,
              kTextMountNotAuthorized, kTextMountFailed, kTextMountNeedsAuthentication}) {
            const bool reason = index >= kTextNoVolumeOfTheDevicesSize;
            const std::string shown = reason ? LoadLocalizedString(kTextFailure, language) + "\n" +
                                                   LoadLocalizedString(index, language)
                                             : LoadLocalizedString(index, language);
            auto answer = AskFromWorker(shown, kPromptNotice);
            CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
            ASSERT_NE(prompt, nullptr);
            QLabel& text = *prompt->TextControl();
            const QRect needed = text.fontMetrics().boundingRect(
                text.rect(), Qt::AlignCenter | Qt::TextWordWrap, text.text());
            EXPECT_TRUE(text.rect().contains(needed))
                << "text " << index << " in language " << language << " needs " << needed.width()
                << " x " << needed.height();
            prompt->OnCommand(kPromptOkControl);
            AnswerOf(answer);
            ASSERT_TRUE(ProcessUntil([] { return FindWindow<CPromptDlg>() == nullptr; }));
        }
    }
}

TEST_F(PromptDlgTest, EveryWayToCloseItAndItsResult) {
    struct Case {
        const char* Name;
        std::function<void(CPromptDlg&)> Close;
        int Expected;
    };
    const Case cases[] = {
        {"OK", [](CPromptDlg& p) { ClickMouse(*p.OkButton(), QPoint(10, 10)); }, kPromptOk},
        {"CANCEL", [](CPromptDlg& p) { ClickMouse(*p.CancelButton(), QPoint(10, 10)); },
         kPromptCancel},
        {"Escape", [](CPromptDlg& p) { PressKey(p, Qt::Key_Escape); }, kPromptCancel},
        {"close box", [](CPromptDlg& p) { p.close(); }, kPromptCancel},
        {"control 128", [](CPromptDlg& p) { p.OnCommand(kPromptCancelCommand); }, kPromptCancel},
    };
    StartWindow();
    for (const Case& c : cases) {
        auto answer = AskFromWorker("Update firmware version: V1.15", kPromptQuestion);
        CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
        ASSERT_NE(prompt, nullptr);
        prompt->activateWindow();
        QCoreApplication::processEvents();
        c.Close(*prompt);
        EXPECT_EQ(AnswerOf(answer), c.Expected) << c.Name;
        ASSERT_TRUE(ProcessUntil([] { return FindWindow<CPromptDlg>() == nullptr; })) << c.Name;
    }
}

TEST_F(PromptDlgTest, TheMainDialogTakesNoInputWhileThePromptIsOpen) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    auto answer = AskFromWorker("notice", kPromptNotice);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), prompt);
    EXPECT_EQ(prompt->windowHandle()->transientParent(), m_pDlg->windowHandle());
    ClickMouse(*m_pDlg->UpdateButton(), m_pDlg->UpdateButton()->rect().center());
    EXPECT_FALSE(m_pEngine->UpdateRunActive());
    EXPECT_EQ(m_pDevice->UpdateRequestCount(), 0U);
    prompt->OnCommand(kPromptOkControl);
    AnswerOf(answer);
}

TEST_F(PromptDlgTest, PicturesFollowThePointerAndTheButton) {
    StartWindow();
    auto answer = AskFromWorker("Update firmware version: V1.15", kPromptQuestion);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    CButtonEx& ok = *prompt->OkButton();
    CButtonEx& cancel = *prompt->CancelButton();
    const auto colourOf = [](CButtonEx& button) {
        return button.grab().toImage().pixelColor(1, 1);
    };
    const QColor red(141, 22, 30);
    const QColor orange(215, 152, 27);

    MoveMouse(*prompt, QPoint(150, 40));
    EXPECT_EQ(ok.CurrentPicture(), CButtonEx::Picture::Normal);
    EXPECT_EQ(colourOf(ok), red);

    MoveMouse(ok, QPoint(20, 10));  // enters
    EXPECT_EQ(ok.CurrentPicture(), CButtonEx::Picture::Highlighted);
    EXPECT_EQ(colourOf(ok), orange);
    EXPECT_EQ(cancel.CurrentPicture(), CButtonEx::Picture::Normal);

    MoveMouse(*prompt, QPoint(150, 40));  // leaves
    EXPECT_EQ(ok.CurrentPicture(), CButtonEx::Picture::Normal);

    MoveMouse(cancel, QPoint(20, 10));
    EXPECT_EQ(cancel.CurrentPicture(), CButtonEx::Picture::Highlighted);
    PressMouse(cancel, QPoint(20, 10));  // held down
    EXPECT_EQ(cancel.CurrentPicture(), CButtonEx::Picture::Normal);
    EXPECT_EQ(colourOf(cancel), red);

    ok.setEnabled(false);
    EXPECT_EQ(ok.CurrentPicture(), CButtonEx::Picture::Disabled);
    EXPECT_EQ(colourOf(ok), red);

    ReleaseMouse(cancel, QPoint(20, 10));  // released over it: the prompt ends with CANCEL
    EXPECT_EQ(AnswerOf(answer), kPromptCancel);
}

TEST_F(PromptDlgTest, DraggingItsSurfaceMovesIt) {
    StartWindow(QPoint(200, 150));
    auto answer = AskFromWorker("drag me", kPromptNotice);
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    const QPoint start = prompt->pos();
    const QPoint local(150, 118);  // below the text, left of the button
    const QPoint globalPress = prompt->mapToGlobal(local);
    PressMouse(*prompt, local);
    MoveMouse(*prompt, prompt->mapFromGlobal(globalPress + QPoint(-25, 30)));
    ReleaseMouse(*prompt, prompt->mapFromGlobal(globalPress + QPoint(-25, 30)));
    EXPECT_TRUE(ProcessUntil([&] { return prompt->pos() == start + QPoint(-25, 30); }));
    PressMouse(*prompt, local);
    ReleaseMouse(*prompt, local);
    EXPECT_EQ(prompt->pos(), start + QPoint(-25, 30));
    prompt->OnCommand(kPromptOkControl);
    AnswerOf(answer);
}

}  // namespace
}  // namespace tarvex::testing
