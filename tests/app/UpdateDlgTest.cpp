// The main dialog over the engine and the virtual device: start-up, keys, a whole update with
// every question answered through the windows, failure, hot-plug, closing at awkward moments,
// idleness and accessibility.

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "tests/app/WindowTestSupport.h"
#include "tests/update/FakeRunGuards.h"
#include "ui/DialogLayout.h"
#include "ui/LocalizedText.h"
#include "ui/qt/ButtonEx.h"
#include "ui/qt/UiPictures.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

class UpdateDlgTest : public WindowFixture {};

// Counts the events of one type that reach `watched`, letting them through.
class CEventCounter final : public QObject {
public:
    CEventCounter(QObject& watched, QEvent::Type type, int& count) : m_Type(type), m_Count(count) {
        watched.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        m_Count += event->type() == m_Type ? 1 : 0;
        return false;
    }

private:
    QEvent::Type m_Type;
    int& m_Count;
};

// --- start-up ---

TEST_F(UpdateDlgTest, StartsWithNoDeviceDisabledAndEmpty) {
    StartWindow();
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_pDlg->UpdateButton()->isEnabled());
    EXPECT_TRUE(m_pDlg->VersionText()->text().isEmpty());
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("Tarvex Update V1.0"));
    EXPECT_EQ(m_pDlg->Progress()->minimum(), 0);
    EXPECT_EQ(m_pDlg->Progress()->maximum(), 100);
    EXPECT_EQ(m_pDlg->Progress()->value(), 0);
    EXPECT_EQ(m_pDlg->InstructionText()->text().toStdString().substr(0, 35),
              "1. While the controller is off, pre");
}

TEST_F(UpdateDlgTest, StartsWithTheUpdateDeviceEnabledAndShowsItsVersion) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    EXPECT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    EXPECT_TRUE(m_pDlg->UpdateButton()->isEnabled());
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);
    EXPECT_TRUE(WaitForWorkersToEnd());
}

TEST_F(UpdateDlgTest, StartsWithADriveModeDeviceEnabledWithoutAQuery) {
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    StartWindow();
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->UpdateButton()->isEnabled(); }));
    EXPECT_TRUE(m_pDlg->VersionText()->text().isEmpty());
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
}

// The window shows itself first: made and started, it has drawn no picture and sent the device
// nothing, though detection has set the button; the version query and the work handed to
// AfterFirstPaint wait for its first paint, and end up done all the same.
TEST_F(UpdateDlgTest, WhatCanWaitWaitsForTheFirstPaint) {
    m_Port.AttachUpdateDevice(m_pDevice);
    const std::size_t drawn = PicturesDrawn();
    m_pHid = std::make_unique<CHid>(m_Port, m_Usb, &m_Notices);
    m_pDlg = std::make_unique<CUpdateDlg>(m_Language);
    m_pEngine =
        std::make_unique<CUpdateEngine>(*m_pHid, *m_pDlg, m_Language, m_DriveCopy, m_Guards);
    int paints = 0;
    int paintsBeforeWork = -1;
    CEventCounter counter(*m_pDlg, QEvent::Paint, paints);
    m_pDlg->AfterFirstPaint([&] { paintsBeforeWork = paints; });
    m_pDlg->Start(*m_pEngine, &m_Notices);
    QCoreApplication::processEvents();

    EXPECT_TRUE(m_pDlg->UpdateButton()->isEnabled());
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 0U);
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
    EXPECT_EQ(paintsBeforeWork, -1);
    EXPECT_EQ(PicturesDrawn(), drawn);

    m_pDlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    EXPECT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);
    EXPECT_GE(paintsBeforeWork, 1) << "the work ran before the first paint, or never";

    // Handed over once the window has been painted, work still runs, on the window's thread.
    bool later = false;
    m_pDlg->AfterFirstPaint([&] { later = true; });
    EXPECT_TRUE(ProcessUntil([&] { return later; }));
}

TEST_F(UpdateDlgTest, CaptionEndsInTheVersionSuffixInChinese) {
    m_Language = CFixedUiLanguage(kLanguageChineseSimplifiedPrc);
    StartWindow();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("Tarvex Update V1.0"));
    EXPECT_TRUE(m_pDlg->InstructionText()->text().startsWith(QStringLiteral("1.  手柄")));
}

// --- keys ---

TEST_F(UpdateDlgTest, KeysOfTheTableNeitherCloseNorPressNorMoveTheFocus) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    QPushButton& button = *m_pDlg->UpdateButton();
    button.setFocus();
    ASSERT_TRUE(ProcessUntil([&] { return button.hasFocus(); }));
    const Qt::Key keys[] = {Qt::Key_Tab,   Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Enter,
                            Qt::Key_Alt,   Qt::Key_Escape,  Qt::Key_Left,   Qt::Key_Up,
                            Qt::Key_Right, Qt::Key_Down,    Qt::Key_F1};
    for (const Qt::Key key : keys) {
        PressKey(*m_pDlg, key);
        EXPECT_TRUE(m_pDlg->isVisible()) << "key " << key << " closed the dialog";
        EXPECT_TRUE(button.hasFocus()) << "key " << key << " moved the focus";
        EXPECT_FALSE(m_pEngine->UpdateRunActive()) << "key " << key << " pressed the button";
        EXPECT_EQ(FindWindow<QFileDialog>(), nullptr) << "key " << key << " started a run";
    }
    EXPECT_EQ(m_pDevice->UpdateRequestCount(), 0U);
}

TEST_F(UpdateDlgTest, TheFileDialogKeepsEscape) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ClickUpdateButton();
    QFileDialog* dialog = WaitForWindow<QFileDialog>();
    ASSERT_NE(dialog, nullptr);
    PressKey(*dialog, Qt::Key_Escape);
    EXPECT_TRUE(ProcessUntil([&] { return FindWindow<QFileDialog>() == nullptr; }));
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Cancelled);
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->UpdateButton()->isEnabled(); }));
}

// --- whole runs ---

TEST_F(UpdateDlgTest, AWholeUpdateThroughTheWindowEndsWithTheSuccessBox) {
    m_Port.AttachUpdateDevice(m_pDevice);
    // Ten chunks per percent: the progress reaches the window once per percent, not per chunk.
    sim::SampleImageSpec spec;
    spec.PayloadLength = 32000;
    const auto image = WriteImage(spec);
    StartWindow();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    std::vector<int> progress;
    QObject::connect(m_pDlg->Progress(), &QProgressBar::valueChanged,
                     [&](int value) { progress.push_back(value); });

    const std::size_t callsBefore = m_pDlg->WindowThreadCalls();
    ClickUpdateButton();
    EXPECT_TRUE(ProcessUntil([&] { return !m_pDlg->UpdateButton()->isEnabled(); }));
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15");

    QMessageBox* box = WaitForWindow<QMessageBox>();
    ASSERT_NE(box, nullptr) << "no success box";
    EXPECT_EQ(box->text(), QStringLiteral("Firmware upgraded successful!"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Tarvex Update"));
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() == 100; }));
    EXPECT_FALSE(m_pDlg->UpdateButton()->isEnabled());
    box->button(QMessageBox::Ok)->click();

    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() == 0; }));
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->UpdateButton()->isEnabled(); }));
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));

    // 1,000 chunks: about a hundred progress changes and a few other calls reached the
    // window's thread, not one per chunk.
    EXPECT_LT(m_pDlg->WindowThreadCalls() - callsBefore, 150U);
    ASSERT_GE(progress.size(), 2U);
    EXPECT_EQ(progress.back(), 0);
    progress.pop_back();
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::adjacent_find(progress.begin(), progress.end(), std::greater_equal<>()) ==
                progress.end())
        << "the progress went back or repeated a value";
}

TEST_F(UpdateDlgTest, AFailureReplyEndsWithTheFailurePrompt) {
    m_Port.AttachUpdateDevice(m_pDevice);
    m_pDevice->SetPacketFault(6, sim::PacketFault::FailureReply);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15");
    AnswerPrompt("Firmware update failure");
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Failed);
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->UpdateButton()->isEnabled(); }));
    EXPECT_EQ(FindWindow<QMessageBox>(), nullptr);
}

TEST_F(UpdateDlgTest, DecliningTheVersionEndsTheRunWithoutAMessage) {
    m_Port.AttachUpdateDevice(m_pDevice);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15", /*ok=*/false);
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Cancelled);
    EXPECT_FALSE(m_pDevice->ReceivedImageHeader().has_value());
    EXPECT_EQ(FindWindow<CPromptDlg>(), nullptr);
}

TEST_F(UpdateDlgTest, TheProgressBarNeverShowsMoreThan100) {
    StartWindow();
    m_pDlg->SetProgress(150);
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() == 100; }));
    m_pDlg->SetProgress(0xFFFFFFFFU);
    m_pDlg->SetProgress(42);
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() == 42; }));
}

// --- hot-plug and the permission notice ---

TEST_F(UpdateDlgTest, PluggingAndUnpluggingReachTheWindowThroughTheEventLoop) {
    StartWindow();
    ASSERT_FALSE(m_pDlg->UpdateButton()->isEnabled());

    m_Port.AttachUpdateDevice(m_pDevice);
    m_Notices.HidDevicePlugged();
    EXPECT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    EXPECT_TRUE(m_pDlg->UpdateButton()->isEnabled());
    ASSERT_TRUE(WaitForWorkersToEnd());

    m_pDevice->Unplug();
    m_Notices.HidDeviceUnplugged();
    EXPECT_TRUE(WaitForVersionText(QString()));
    EXPECT_TRUE(ProcessUntil([&] { return !m_pDlg->UpdateButton()->isEnabled(); }));
}

TEST_F(UpdateDlgTest, ADeviceThisUserMayNotOpenIsExplainedInThePrompt) {
    m_Port.AttachUpdateDevice(m_pDevice);
    m_Port.SetOpenError(HidOpenError::PermissionDenied);
    StartWindow();
    ClickUpdateButton();
    AnswerPrompt(
        "The update device was found but cannot be opened: permission denied.\n"
        "Install the udev rule that comes with this program (60-tarvex-update.rules) "
        "and plug the device in again.");
    EXPECT_TRUE(WaitForWorkersToEnd());
}

// A second window while another program updates the device: the press says so and sends
// nothing, the button stays usable, and once the other update is over the same button works.
TEST_F(UpdateDlgTest, ADeviceBusyWithAnotherUpdateIsExplainedAndTheButtonStaysUsable) {
    CFakeDeviceLocks locks;
    locks.SetHeldElsewhere(sim::kVirtualUpdateDevicePath, true);
    m_Guards.pDeviceLocks = &locks;
    m_Port.AttachUpdateDevice(m_pDevice);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    AnswerPrompt(
        "The device is busy with another update: another program is updating it. Try "
        "again once that update has finished.");
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_TRUE(m_pDlg->UpdateButton()->isEnabled());
    EXPECT_TRUE(m_pDevice->Record().empty()) << "a report reached the busy device";

    locks.SetHeldElsewhere(sim::kVirtualUpdateDevicePath, false);
    ClickUpdateButton();
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15");
    QMessageBox* box = WaitForWindow<QMessageBox>();
    ASSERT_NE(box, nullptr) << "no success box";
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
}

// --- closing at any moment ---

// Closes the window and checks that everything ended: no worker, no question window.
void ExpectClosedCleanly(CUpdateDlg& dialog, CUpdateEngine& engine) {
    const auto started = std::chrono::steady_clock::now();
    dialog.close();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 5s) << "closing took "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                        << " ms";
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(engine.RunningWorkers(), 0U);
    EXPECT_EQ(dialog.OpenQuestions(), 0U);
    QCoreApplication::processEvents();
    EXPECT_EQ(FindWindow<CPromptDlg>(), nullptr);
    EXPECT_EQ(FindWindow<QFileDialog>(), nullptr);
    EXPECT_EQ(FindWindow<QMessageBox>(), nullptr);
}

TEST_F(UpdateDlgTest, ClosingMidTransferStopsAndJoinsEveryWorker) {
    m_Port.AttachUpdateDevice(m_pDevice);
    m_pDevice->SetReplyLatency(5ms);
    sim::SampleImageSpec spec;
    spec.PayloadLength = 64000;
    const auto image = WriteImage(spec);
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15");
    ASSERT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() >= 5; }));
    ExpectClosedCleanly(*m_pDlg, *m_pEngine);
    EXPECT_LT(m_pDevice->ReceivedDataBytes().size(), spec.PayloadLength);
}

TEST_F(UpdateDlgTest, ClosingWithTheVersionQuestionOpenAnswersItAsCancelled) {
    m_Port.AttachUpdateDevice(m_pDevice);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    ASSERT_NE(WaitForWindow<CPromptDlg>(), nullptr);
    ExpectClosedCleanly(*m_pDlg, *m_pEngine);
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Cancelled);
    EXPECT_FALSE(m_pDevice->ReceivedImageHeader().has_value());
}

TEST_F(UpdateDlgTest, ClosingWithTheFileDialogOpenEndsTheRun) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ClickUpdateButton();
    ASSERT_NE(WaitForWindow<QFileDialog>(), nullptr);
    ExpectClosedCleanly(*m_pDlg, *m_pEngine);
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Cancelled);
}

TEST_F(UpdateDlgTest, ClosingWithAFailureNoticeOpen) {
    m_Port.AttachUpdateDevice(m_pDevice);
    m_pDevice->SetPacketFault(3, sim::PacketFault::FailureReply);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    AnswerPrompt("Update firmware version: V1.15");
    CPromptDlg* notice = WaitForWindow<CPromptDlg>();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->TextControl()->text(), QStringLiteral("Firmware update failure"));
    ExpectClosedCleanly(*m_pDlg, *m_pEngine);
}

// A volume writer that takes its time, as a slow stick does while it flushes.
class CSlowFileWriter final : public CFileWriter {
public:
    std::atomic<int> Writes{0};
    FileWriteResult WriteWholeFile(const std::filesystem::path&,
                                   std::span<const std::uint8_t> bytes) override {
        ++Writes;
        std::this_thread::sleep_for(300ms);
        return {FileWriteError::None, FileWriteStep::Close, bytes.size(), {}};
    }
};

class COneVolume final : public CVolumeList {
public:
    std::vector<VolumeInfo> ListVolumes() override {
        return {VolumeInfo{"/media/device", "/dev/sdz1", 0x1A000, {}, {}}};
    }
    // The virtual drive-mode device has no block device: its volume is found by size alone.
    bool CanFindVolumesOf(const std::string&) override { return false; }
};

TEST_F(UpdateDlgTest, ClosingDuringADriveCopyWaitsForTheCopyAndEndsCleanly) {
    CSlowFileWriter writer;
    COneVolume volumes;
    m_DriveCopy = DriveCopyServices{&volumes, &m_Usb, &writer, {}};
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    ASSERT_TRUE(ProcessUntil([&] { return writer.Writes.load() > 0; }));
    ExpectClosedCleanly(*m_pDlg, *m_pEngine);
    EXPECT_FALSE(m_pEngine->DriveCopyRunActive());
}

// The device's own volume, not mounted until the test says so.
class CLateVolume final : public CVolumeList {
public:
    explicit CLateVolume(std::string device) : m_Device(std::move(device)) {}
    std::atomic<bool> Mounted{false};
    std::atomic<int> Listings{0};
    std::vector<VolumeInfo> ListVolumes() override {
        ++Listings;
        if (!Mounted.load()) {
            return {};
        }
        return {VolumeInfo{"/media/device", "/dev/sdz1", 0x1A000, m_Device, {}}};
    }
    bool CanFindVolumesOf(const std::string& device) override { return device == m_Device; }

private:
    const std::string m_Device;
};

const std::string kVirtualDriveModeDevice = "virtual:usb-3a7e:6a01";

// While a drive copy waits for the device's volume, the window says so where the instructions
// were, and goes back to them once the copy has been made.
TEST_F(UpdateDlgTest, TheWaitForTheDevicesVolumeShowsInTheWindow) {
    CSlowFileWriter writer;
    CLateVolume volumes(kVirtualDriveModeDevice);
    m_DriveCopy = DriveCopyServices{&volumes, &m_Usb, &writer, {}};
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    const auto image = WriteImage({});
    StartWindow();
    const QString instructions = m_pDlg->InstructionText()->text();
    ClickUpdateButton();
    ChooseFile(image);
    EXPECT_TRUE(ProcessUntil([&] {
        return m_pDlg->InstructionText()->text() ==
               QStringLiteral(
                   "Waiting for the device's volume to be mounted (at most 30 s)...\n"
                   "The copy starts by itself once it is.");
    })) << m_pDlg->InstructionText()->text().toStdString();
    EXPECT_EQ(writer.Writes.load(), 0);

    volumes.Mounted.store(true);
    QMessageBox* box = WaitForWindow<QMessageBox>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->InstructionText()->text() == instructions; }));
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDlg->InstructionText()->text(), instructions);
}

// A failed drive copy says why in the window, below the failure text, in the user's language.
TEST_F(UpdateDlgTest, AFailedDriveCopySaysWhyInThePrompt) {
    const struct {
        LanguageId Language;
        const char* Expected;
    } cases[] = {
        {kLanguageEnglishUs,
         "Firmware update failure\nThe device's volume was not mounted in time. Mount it, then "
         "try again."},
        {kLanguageChineseSimplifiedPrc,
         "固件更新失败\n设备的磁盘未能及时挂载。请挂载它，然后重试。"},
    };
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Language);
        CSlowFileWriter writer;
        CLateVolume volumes(kVirtualDriveModeDevice);
        m_Language = CFixedUiLanguage(c.Language);
        m_DriveCopy = DriveCopyServices{&volumes, &m_Usb, &writer, {}};
        m_DriveCopy.VolumeWaitLimit = 300ms;
        const auto image = WriteImage({});
        StartWindow();
        ClickUpdateButton();
        ChooseFile(image);
        CPromptDlg* notice = WaitForWindow<CPromptDlg>();
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->TextControl()->text(), QString::fromUtf8(c.Expected));
        notice->OnCommand(kPromptOkControl);
        ASSERT_TRUE(WaitForWorkersToEnd());
        EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Failed);
        EXPECT_EQ(writer.Writes.load(), 0);
        CloseWindow();
        m_pEngine.reset();
        m_pDlg.reset();
    }
}

TEST_F(UpdateDlgTest, ADriveCopyEndsWithTheSuccessBox) {
    CSlowFileWriter writer;
    COneVolume volumes;
    m_DriveCopy = DriveCopyServices{&volumes, &m_Usb, &writer, {}};
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    const auto image = WriteImage({});
    StartWindow();
    ClickUpdateButton();
    ChooseFile(image);
    QMessageBox* box = WaitForWindow<QMessageBox>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Firmware upgraded successful!"));
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(m_pEngine->LastRunOutcome(), UpdateOutcome::Succeeded);
}

// --- idleness ---

TEST_F(UpdateDlgTest, IdleWithADeviceAttachedTheEventLoopSleeps) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    ASSERT_TRUE(WaitForWorkersToEnd());
    QCoreApplication::processEvents();

    // Counts how often the event loop wakes in a quiet stretch; its own end is one wake-up. A
    // timer or an animation anywhere in the window would wake it every few milliseconds.
    int wakeUps = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    const auto connection =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    QEventLoop loop;
    QTimer::singleShot(500ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    EXPECT_LE(wakeUps, 3);
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
}

// --- accessibility ---

QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
}

QAccessible::Role AccessibleRole(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->role() : QAccessible::NoRole;
}

TEST_F(UpdateDlgTest, EveryControlHasAnAccessibleNameAndRole) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow();
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    EXPECT_EQ(AccessibleName(m_pDlg->UpdateButton()), QStringLiteral("USB_Update"));
    EXPECT_EQ(AccessibleRole(m_pDlg->UpdateButton()), QAccessible::Button);
    EXPECT_EQ(AccessibleName(m_pDlg->VersionText()), QStringLiteral("V1.05"));
    EXPECT_EQ(AccessibleRole(m_pDlg->VersionText()), QAccessible::StaticText);
    EXPECT_EQ(AccessibleName(m_pDlg->InstructionText()), m_pDlg->InstructionText()->text());
    EXPECT_EQ(AccessibleRole(m_pDlg->InstructionText()), QAccessible::StaticText);
    EXPECT_FALSE(AccessibleName(m_pDlg->Progress()).isEmpty());
    EXPECT_EQ(AccessibleRole(m_pDlg->Progress()), QAccessible::ProgressBar);

    m_pDlg->SetProgress(37);
    ASSERT_TRUE(ProcessUntil([&] { return m_pDlg->Progress()->value() == 37; }));
    QAccessibleInterface* progress = QAccessible::queryAccessibleInterface(m_pDlg->Progress());
    ASSERT_NE(progress->valueInterface(), nullptr);
    EXPECT_EQ(progress->valueInterface()->currentValue().toInt(), 37);
}

TEST_F(UpdateDlgTest, ThePromptReadsAsItsTextAndItsButtonsAsTheirWords) {
    StartWindow();
    std::thread worker([&] { m_pDlg->ShowPrompt("Firmware update failure", kPromptQuestion); });
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(AccessibleName(prompt->TextControl()), QStringLiteral("Firmware update failure"));
    EXPECT_EQ(AccessibleName(prompt->OkButton()), QStringLiteral("OK"));
    EXPECT_EQ(AccessibleRole(prompt->OkButton()), QAccessible::Button);
    EXPECT_EQ(AccessibleName(prompt->CancelButton()), QStringLiteral("CANCEL"));
    prompt->OnCommand(kPromptCancelControl);
    worker.join();
}

// The notice has one button, OK, and a screen reader must find it by its word as in a question.
TEST_F(UpdateDlgTest, TheNoticesOkButtonReadsAsItsWord) {
    StartWindow();
    std::thread worker([&] { m_pDlg->ShowPrompt("Firmware update failure", kPromptNotice); });
    CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->CancelButton(), nullptr);
    ASSERT_NE(prompt->OkButton(), nullptr);
    EXPECT_EQ(AccessibleName(prompt->OkButton()), QStringLiteral("OK"));
    EXPECT_EQ(AccessibleRole(prompt->OkButton()), QAccessible::Button);
    prompt->OnCommand(kPromptOkControl);
    worker.join();
}

// --- the button belongs to the engine ---

// Closing a prompt or the success box is not the end of a run: the button stays as the engine
// left it, whatever closed the window and however it was answered.
TEST_F(UpdateDlgTest, ClosingAPromptOrTheSuccessBoxLeavesTheButtonAlone) {
    StartWindow();
    m_pDlg->EnableUpdateButton(false);
    ASSERT_TRUE(ProcessUntil([&] { return !m_pDlg->UpdateButton()->isEnabled(); }));
    const auto closePrompt = [](int control) {
        return [control] {
            CPromptDlg* prompt = WaitForWindow<CPromptDlg>();
            ASSERT_NE(prompt, nullptr);
            prompt->OnCommand(control);
        };
    };
    const struct {
        const char* Name;
        std::function<void(CUpdateDlg&)> Show;  // on a worker
        std::function<void()> Close;            // on the window's thread
    } cases[] = {
        {"notice, OK",
         [](CUpdateDlg& dlg) { dlg.ShowPrompt("Firmware update failure", kPromptNotice); },
         closePrompt(kPromptOkControl)},
        {"question, OK",
         [](CUpdateDlg& dlg) { dlg.ShowPrompt("Update firmware version: V1.15", kPromptQuestion); },
         closePrompt(kPromptOkControl)},
        {"question, CANCEL",
         [](CUpdateDlg& dlg) { dlg.ShowPrompt("Update firmware version: V1.15", kPromptQuestion); },
         closePrompt(kPromptCancelControl)},
        {"failure with its reason",
         [](CUpdateDlg& dlg) {
             dlg.ShowFailureNotice("Firmware update failure", "The device's volume is full.");
         },
         closePrompt(kPromptOkControl)},
        {"success box",
         [](CUpdateDlg& dlg) {
             dlg.ShowSuccessBox("Firmware upgraded successful!", "Tarvex Update");
         },
         [] {
             QMessageBox* box = WaitForWindow<QMessageBox>();
             ASSERT_NE(box, nullptr);
             box->button(QMessageBox::Ok)->click();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::thread worker([&] { c.Show(*m_pDlg); });
        c.Close();
        worker.join();
        // Whatever the closing posted to the window's thread has been applied once this, posted
        // after it, has.
        m_pDlg->SetVersionText(c.Name);
        ASSERT_TRUE(ProcessUntil([&] { return m_pDlg->VersionText()->text() == c.Name; }));
        EXPECT_FALSE(m_pDlg->UpdateButton()->isEnabled()) << "the button came back";
    }
}

// --- dragging ---

struct DragCase {
    const char* Name;
    std::function<QWidget&(CUpdateDlg&)> PressedOn;
    QPoint Offset;
    QPoint ExpectedMove;
};

TEST_F(UpdateDlgTest, DraggingTheSurfaceMovesTheDialog) {
    StartWindow(QPoint(200, 150));
    const auto surface = [](CUpdateDlg& dialog) -> QWidget& { return dialog; };
    const auto instructions = [](CUpdateDlg& dialog) -> QWidget& {
        return *dialog.InstructionText();
    };
    const auto version = [](CUpdateDlg& dialog) -> QWidget& { return *dialog.VersionText(); };
    const auto disabledButton = [](CUpdateDlg& dialog) -> QWidget& {
        return *dialog.UpdateButton();
    };
    const DragCase cases[] = {
        {"surface", surface, QPoint(40, 25), QPoint(40, 25)},
        {"surface, no move", surface, QPoint(0, 0), QPoint(0, 0)},
        {"instruction text", instructions, QPoint(-30, 12), QPoint(-30, 12)},
        {"version text", version, QPoint(15, -10), QPoint(15, -10)},
        {"disabled button", disabledButton, QPoint(5, 5), QPoint(5, 5)},
    };
    ASSERT_FALSE(m_pDlg->UpdateButton()->isEnabled());
    for (const DragCase& drag : cases) {
        QWidget& target = drag.PressedOn(*m_pDlg);
        // A point of the target that no child covers: the dialog's own corner, the others'
        // middle.
        const QPoint local = &target == m_pDlg.get()
                                 ? QPoint(target.width() - 3, target.height() - 3)
                                 : target.rect().center();
        const QPoint before = m_pDlg->pos();
        const QPoint globalPress = target.mapToGlobal(local);
        MoveMouse(target, local);
        PressMouse(target, local);
        // The pointer's travel, in two steps, each at its place on the screen.
        for (const QPoint step : {drag.Offset / 2, drag.Offset}) {
            MoveMouse(*m_pDlg, m_pDlg->mapFromGlobal(globalPress + step));
        }
        ReleaseMouse(*m_pDlg, m_pDlg->mapFromGlobal(globalPress + drag.Offset));
        EXPECT_TRUE(ProcessUntil([&] { return m_pDlg->pos() == before + drag.ExpectedMove; }))
            << drag.Name << ": at " << m_pDlg->pos().x() << "," << m_pDlg->pos().y();
    }
}

TEST_F(UpdateDlgTest, APressOnTheEnabledButtonClicksItAndDoesNotMoveTheDialog) {
    m_Port.AttachUpdateDevice(m_pDevice);
    StartWindow(QPoint(200, 150));
    ASSERT_TRUE(WaitForVersionText(QStringLiteral("V1.05")));
    QPushButton& button = *m_pDlg->UpdateButton();
    const QPoint local = button.rect().center();
    const QPoint globalPress = button.mapToGlobal(local);
    MoveMouse(button, local);
    PressMouse(button, local);
    MoveMouse(*m_pDlg, m_pDlg->mapFromGlobal(globalPress + QPoint(3, 2)));
    ReleaseMouse(*m_pDlg, m_pDlg->mapFromGlobal(globalPress + QPoint(3, 2)));
    EXPECT_EQ(m_pDlg->pos(), QPoint(200, 150));
    EXPECT_NE(WaitForWindow<QFileDialog>(), nullptr) << "the press did not click the button";
}

// The instruction text must fit its control in both languages, with the fonts installed here.
TEST_F(UpdateDlgTest, TheInstructionTextFitsItsControl) {
    for (const LanguageId language : {kLanguageEnglishUs, kLanguageChineseSimplifiedPrc}) {
        m_Language = CFixedUiLanguage(language);
        CUpdateDlg dialog(m_Language);
        QLabel& text = *dialog.InstructionText();
        const QRect needed = text.fontMetrics().boundingRect(
            text.rect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text.text());
        EXPECT_LE(needed.height(), text.height()) << "language " << language;
        EXPECT_TRUE(QRect(QPoint(0, 0), dialog.size()).contains(text.geometry()));
    }
}

}  // namespace
}  // namespace tarvex::testing
