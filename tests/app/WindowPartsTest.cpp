// The window's smaller parts: the file filter and the keys on Qt, the demo's options, the
// question relay, the program icon.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QIcon>
#include <QImage>
#include <future>
#include <thread>

#include "app/DemoOptions.h"
#include "app/QuestionRelay.h"
#include "app/qt/WindowThreadQueue.h"
#include "ui/DialogKeys.h"
#include "ui/qt/QtFileFilter.h"
#include "ui/qt/QtKeys.h"
#include "ui/qt/UiPictures.h"
#include "update/UpdateView.h"

namespace tarvex::testing {
namespace {

TEST(FileFilterTest, BarListsBecomeNameFilters) {
    struct Case {
        std::string BarList;
        QStringList Expected;
    };
    const Case cases[] = {
        {"File type(*.dat)|*.dat||", {"File type(*.dat)"}},
        {"文件类型中显示的内容(*.dat)|*.dat||", {"文件类型中显示的内容(*.dat)"}},
        {"Images|*.dat;*.bin||", {"Images (*.dat *.bin)"}},
        {"A(*.a)|*.a|B|*.b||", {"A(*.a)", "B (*.b)"}},
        {"", {}},
        {"no pattern", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameFiltersFromBarList(c.BarList), c.Expected) << c.BarList;
    }
}

TEST(QtKeysTest, QtsKeysMapOntoTheKeysTheMainDialogSwallows) {
    for (const int key :
         {Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Alt, Qt::Key_Escape,
          Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_F1}) {
        EXPECT_TRUE(IsSwallowedByMainDialog(VirtualKeyOf(key))) << key;
    }
    for (const int key : {Qt::Key_Space, Qt::Key_A, Qt::Key_F2, Qt::Key_AltGr, Qt::Key_Shift,
                          Qt::Key_Control, Qt::Key_Delete, Qt::Key_PageDown}) {
        EXPECT_FALSE(IsSwallowedByMainDialog(VirtualKeyOf(key))) << key;
    }
}

// The icon is made at start-up and drawn only when a window system asks for a size: every
// size it offers, drawn as the picture itself is drawn, each once however many copies ask.
TEST(ProgramIconTest, DrawsEachSizeWhenFirstAskedAndOnce) {
    const std::size_t before = PicturesDrawn();
    const QIcon icon = ProgramIcon();
    EXPECT_EQ(PicturesDrawn(), before) << "making the icon drew it";

    QList<QSize> expected;
    for (const int side : {16, 24, 32, 48, 64, 96, 128, 256}) {
        expected.append(QSize(side, side));
    }
    EXPECT_EQ(icon.availableSizes(), expected);

    const QImage large = icon.pixmap(QSize(256, 256), 1.0).toImage();
    EXPECT_EQ(PicturesDrawn(), before + 1);
    EXPECT_EQ(large.convertToFormat(QImage::Format_ARGB32_Premultiplied),
              LoadPicture(kPictureProgramIcon, 1.0)
                  .toImage()
                  .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    const std::size_t withLarge = PicturesDrawn();

    const QIcon copy = icon;  // as the application hands it to each window
    EXPECT_EQ(copy.pixmap(QSize(256, 256), 1.0).size(), QSize(256, 256));
    const QPixmap doubled = copy.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(doubled.size(), QSize(32, 32));
    EXPECT_EQ(doubled.devicePixelRatio(), 2.0);
    EXPECT_EQ(PicturesDrawn(), withLarge + 1) << "the 256 was drawn again, or the 32 not at all";
    icon.pixmap(QSize(32, 32), 1.0);
    EXPECT_EQ(PicturesDrawn(), withLarge + 1) << "the 32 was drawn twice";
}

TEST(DemoOptionsTest, TakesTheVirtualDevicesOptions) {
    const std::string_view arguments[] = {"--latency=40", "--fail-at=7", "--version=120",
                                          "--silent",     "--drive",     "--disappear-at=9"};
    const DemoParseResult parsed = ParseDemoArguments(arguments);
    ASSERT_TRUE(parsed.Options) << parsed.Error;
    EXPECT_TRUE(parsed.Options->DriveMode);
    EXPECT_EQ(parsed.Options->Device.ReplyLatency, std::chrono::milliseconds(40));
    EXPECT_EQ(parsed.Options->Device.FirmwareVersion, 120U);
    EXPECT_TRUE(parsed.Options->Device.Silent);
    ASSERT_EQ(parsed.Options->Device.Faults.size(), 2U);
    EXPECT_EQ(parsed.Options->Device.Faults[0].PacketNumber, 7U);
    EXPECT_EQ(parsed.Options->Device.Faults[1].Fault, sim::PacketFault::Disappear);
}

TEST(DemoOptionsTest, TakesTheStatesAroundTheDevice) {
    struct Case {
        std::string_view Argument;
        bool DemoOptions::*Flag;
    };
    for (const Case c :
         {Case{"--unplugged", &DemoOptions::Unplugged}, Case{"--busy", &DemoOptions::Busy},
          Case{"--open-denied", &DemoOptions::OpenDenied}}) {
        const std::string_view arguments[] = {c.Argument};
        const DemoParseResult parsed = ParseDemoArguments(arguments);
        ASSERT_TRUE(parsed.Options) << parsed.Error;
        EXPECT_TRUE((*parsed.Options).*(c.Flag)) << c.Argument;
        for (bool DemoOptions::*other :
             {&DemoOptions::Unplugged, &DemoOptions::Busy, &DemoOptions::OpenDenied}) {
            if (other != c.Flag) {
                EXPECT_FALSE((*parsed.Options).*other) << c.Argument;
            }
        }
    }
}

TEST(DemoOptionsTest, TakesTheDriveModeVolumesStates) {
    struct Case {
        std::string_view Argument;
        DemoVolume Volume;
        std::chrono::seconds Delay;
    };
    for (const Case c : {Case{"--volume-late=4", DemoVolume::Late, std::chrono::seconds(4)},
                         Case{"--volume-never", DemoVolume::Never, {}},
                         Case{"--volume-untied", DemoVolume::Untied, {}}}) {
        const std::string_view arguments[] = {c.Argument, "--volume-wait=7"};
        const DemoParseResult parsed = ParseDemoArguments(arguments);
        ASSERT_TRUE(parsed.Options) << parsed.Error;
        EXPECT_TRUE(parsed.Options->DriveMode) << c.Argument;
        EXPECT_EQ(parsed.Options->Volume, c.Volume) << c.Argument;
        EXPECT_EQ(parsed.Options->VolumeDelay, c.Delay) << c.Argument;
        EXPECT_EQ(parsed.Options->VolumeWait, std::chrono::seconds(7)) << c.Argument;
    }
    const std::string_view plain[] = {"--drive"};
    EXPECT_EQ(ParseDemoArguments(plain).Options->Volume, DemoVolume::System);
    EXPECT_FALSE(ParseDemoArguments(plain).Options->VolumeWait);
}

TEST(DemoOptionsTest, RefusesWhatADeviceInsideTheProgramCannotDo) {
    for (const std::string_view argument :
         {"--uhid", "--gadget", "--drive=image.dat", "--latency=x", "--ready-file=f", "image.dat",
          "--volume-late=", "--volume-late=-1", "--volume-wait=2s", "--volume-wait=99999999"}) {
        const std::string_view arguments[] = {argument};
        EXPECT_FALSE(ParseDemoArguments(arguments).Options) << argument;
    }
}

TEST(QuestionRelayTest, AWorkersQuestionIsAnsweredOnTheWindowsThread) {
    CWindowThreadQueue windowThread;
    CQuestionRelay relay(windowThread);
    std::shared_ptr<CQuestion> shown;
    auto answer = std::async(std::launch::async, [&] {
        return relay.Ask([&](const std::shared_ptr<CQuestion>& question) { shown = question; },
                         QuestionAnswer{kPromptCancel, {}});
    });
    while (!shown) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    shown->Answer({kPromptOk, "/chosen.dat"});
    const QuestionAnswer got = answer.get();
    EXPECT_EQ(got.Code, kPromptOk);
    EXPECT_EQ(got.Path, "/chosen.dat");
    EXPECT_EQ(relay.OpenCount(), 0U);
}

TEST(QuestionRelayTest, CancelAllAnswersOpenAndLaterQuestionsAndDismissesTheirWindows) {
    CWindowThreadQueue windowThread;
    CQuestionRelay relay(windowThread);
    std::atomic<int> dismissed{0};
    std::atomic<int> opened{0};
    auto first = std::async(std::launch::async, [&] {
        return relay.Ask(
            [&](const std::shared_ptr<CQuestion>& question) {
                ++opened;
                question->SetDismiss([&] { ++dismissed; });
            },
            QuestionAnswer{kPromptCancel, {}});
    });
    while (opened.load() == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    relay.CancelAll();
    EXPECT_EQ(first.get().Code, kPromptCancel);
    EXPECT_EQ(dismissed.load(), 1);
    // Asked after the window closed: answered at once, never shown.
    const QuestionAnswer later = relay.Ask([&](const auto&) { ++opened; }, {kPromptCancel, {}});
    EXPECT_EQ(later.Code, kPromptCancel);
    EXPECT_EQ(opened.load(), 1);
}

}  // namespace
}  // namespace tarvex::testing
