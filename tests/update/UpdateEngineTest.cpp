// The engine against the virtual device: whole runs, the dispatch of every kind of reply, the
// image selection's paths and every way a run can fail.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hid/ReportSenders.h"
#include "tests/update/EngineTestSupport.h"
#include "ui/LocalizedText.h"

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kSuccess = "Firmware upgraded successful!";
const std::string kFailure = "Firmware update failure";
const std::string kOpenError = "Open file error! Please check the file!";

std::vector<std::string> NoticeTexts(const std::vector<Prompt>& prompts) {
    std::vector<std::string> texts;
    for (const auto& p : prompts) {
        if (p.Mode == kPromptNotice) {
            texts.push_back(p.Text);
        }
    }
    return texts;
}

HidReport Reply(std::initializer_list<std::uint8_t> head) {
    HidReport report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

using EngineRunTest = EngineFixture;

TEST_F(EngineRunTest, WholeRunsDeliverExactlyThePayload) {
    struct Case {
        std::uint32_t payload;
        std::uint32_t trailing;
        std::size_t dataPackets;
        std::vector<unsigned> progress;  // after the start's 0, before the end's 0
    };
    const std::vector<Case> cases = {
        {100, 0, 4, {64, 96, 100}}, {100, 40, 4, {64, 96, 128}},  // the last chunk carries 28 bytes
                                                                  // past the payload
        {20, 0, 2, {100}},                                        // then one empty packet
        {32, 0, 2, {100}},          {64, 0, 2, {100}},           {4096, 0, 128, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        m_pDevice->Reset();
        sim::SampleImageSpec spec;
        spec.PayloadLength = c.payload;
        spec.TrailingBytes = c.trailing;
        spec.Seed = c.payload;
        UseImage(spec);
        const std::size_t progressBefore = m_View.Progress().size();

        ASSERT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
        EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
        EXPECT_EQ(m_pDevice->DataPacketCount(), c.dataPackets);
        EXPECT_EQ(m_pDevice->FinishCount(), 1U);
        const auto progress = m_View.Progress();
        std::vector<unsigned> during(progress.begin() + static_cast<std::ptrdiff_t>(progressBefore),
                                     progress.end());
        ASSERT_GE(during.size(), 2U);
        EXPECT_EQ(during.front(), 0U);  // start-up
        EXPECT_EQ(during.back(), 0U);   // after the success box
        if (!c.progress.empty()) {
            EXPECT_EQ(std::vector<unsigned>(during.begin() + 1, during.end() - 1), c.progress);
        }
    }
    EXPECT_EQ(m_View.SuccessBoxes().size(), cases.size());
    EXPECT_EQ(m_View.SuccessBoxes().front(),
              std::make_pair(kSuccess, std::string("Tarvex Update")));
    EXPECT_TRUE(NoticeTexts(m_View.Prompts()).empty());
}

TEST_F(EngineRunTest, ConfirmationShowsTheImageVersionAndTheDialogFiltersDatFiles) {
    sim::SampleImageSpec spec;
    spec.Version = 115;
    spec.Beta = 3;
    spec.PayloadLength = 64;
    UseImage(spec);
    ASSERT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    ASSERT_FALSE(m_View.Prompts().empty());
    EXPECT_EQ(m_View.Prompts()[0].Text, "Update firmware version: V1.15  Beta3");
    EXPECT_EQ(m_View.Prompts()[0].Mode, kPromptQuestion);
    EXPECT_THAT(m_View.Filters(), ElementsAre("File type(*.dat)|*.dat||"));
    EXPECT_EQ(m_Hid.ReadTimeout(), kReadTimeoutDuringTransfer);
}

TEST_F(EngineRunTest, CancellingTheDialogOrDecliningTheVersionSendsNothingAndShowsNothing) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    const auto image = m_View.ImageAnswer;

    m_View.ImageAnswer.reset();
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Cancelled);
    m_View.ImageAnswer = image;
    m_View.QuestionAnswer = kPromptCancel;
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Cancelled);

    EXPECT_FALSE(m_pDevice->ReceivedImageHeader().has_value());
    EXPECT_EQ(m_pDevice->DataPacketCount(), 0U);
    EXPECT_TRUE(NoticeTexts(m_View.Prompts()).empty());
    // After each run detection found the device again and enabled the button.
    EXPECT_EQ(m_View.Buttons().back(), true);
    EXPECT_FALSE(m_pEngine->UpdateRunActive());
}

TEST_F(EngineRunTest, UnusableImagesAreRefusedBeforeTheHeaderIsSent) {
    const auto good = [] {
        sim::SampleImageSpec spec;
        spec.PayloadLength = 100;
        return sim::BuildSampleImage(spec);
    }();
    struct Case {
        const char* name;
        std::function<std::vector<std::uint8_t>()> bytes;  // nullopt-like: empty function = no file
    };
    const std::vector<Case> cases = {
        {"missing", nullptr},
        {"shorter than 16 bytes", [&] { return std::vector(good.begin(), good.begin() + 15); }},
        {"ends inside the image header",
         [&] { return std::vector(good.begin(), good.begin() + 512 + 27); }},
        {"empty payload",
         [&] {
             auto b = good;
             std::fill(b.begin() + 512 + 8, b.begin() + 512 + 12, 0);
             return b;
         }},
        {"payload past the end", [&] { return std::vector(good.begin(), good.end() - 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = m_Folder / (std::string(c.name) + ".dat");
        if (c.bytes) {
            const auto bytes = c.bytes();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
        m_View.ImageAnswer = path;
        const std::size_t before = NoticeTexts(m_View.Prompts()).size();
        EXPECT_EQ(RunUpdate(), UpdateOutcome::ImageRefused);
        const auto notices = NoticeTexts(m_View.Prompts());
        ASSERT_EQ(notices.size(), before + 1);
        EXPECT_EQ(notices.back(), kOpenError);
        EXPECT_FALSE(m_pDevice->ReceivedImageHeader().has_value());
    }
}

TEST_F(EngineRunTest, AFileNameWithAnyCharactersOpens) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 64;
    const auto path = m_Folder / "固件 update \xE2\x80\x94 #1 (beta).dat";
    ASSERT_TRUE(sim::WriteSampleImage(path, spec));
    m_View.ImageAnswer = path;
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
}

TEST_F(EngineRunTest, FailureRepliesEndTheRunAndTheNextRunStartsAfresh) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 200;
    UseImage(spec);
    for (const std::uint8_t code : {std::uint8_t{0x15}, std::uint8_t{0x18}}) {
        for (const std::size_t packet : {std::size_t{0}, std::size_t{1}, std::size_t{4}}) {
            SCOPED_TRACE(::testing::Message() << "code " << int(code) << " at packet " << packet);
            m_pDevice->Reset();
            m_pDevice->ClearFaults();
            m_pDevice->SetPacketFault(packet, sim::PacketFault::FailureReply, code);
            const std::size_t before = NoticeTexts(m_View.Prompts()).size();
            EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
            const auto notices = NoticeTexts(m_View.Prompts());
            ASSERT_EQ(notices.size(), before + 1);
            EXPECT_EQ(notices.back(), kFailure);
            EXPECT_EQ(m_pDevice->FinishCount(), 0U);
        }
    }
    m_pDevice->Reset();
    m_pDevice->ClearFaults();
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
    EXPECT_EQ(m_View.Buttons().back(), true);
}

TEST_F(EngineRunTest, TheDeviceDeclaringSuccessWithAMemoryReplyEndsTheRunInAnyState) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 200;
    UseImage(spec);
    m_pDevice->SetPacketFault(3, sim::PacketFault::MemoryReply);
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kSuccess));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_EQ(m_pDevice->FinishCount(), 1U);
}

TEST_F(EngineRunTest, ARepeatedAcknowledgementStillDeliversThePayloadOnce) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 300;
    UseImage(spec);
    m_pDevice->SetPacketFault(4, sim::PacketFault::RepeatAck);
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
    EXPECT_EQ(m_View.SuccessBoxes().size(), 1U);
}

TEST_F(EngineRunTest, ADeviceThatDisappearsEndsTheRunWithTheFailureText) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 400;
    UseImage(spec);
    for (const std::size_t packet : {std::size_t{0}, std::size_t{1}, std::size_t{6}}) {
        SCOPED_TRACE(packet);
        m_pDevice->Plug();
        m_pDevice->ClearFaults();
        m_pDevice->SetPacketFault(packet, sim::PacketFault::Disappear);
        const std::size_t before = NoticeTexts(m_View.Prompts()).size();
        EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
        ASSERT_EQ(NoticeTexts(m_View.Prompts()).size(), before + 1);
        EXPECT_EQ(NoticeTexts(m_View.Prompts()).back(), kFailure);
        // No loop is left polling the dead device, and detection saw it go.
        EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
        EXPECT_EQ(m_View.Buttons().back(), false);
    }
}

TEST_F(EngineRunTest, AFileThatShrinksDuringTheTransferFailsInsteadOfSendingEmptyPackets) {
    // Larger than the stream's buffer, so that the cut is seen by the reads that follow.
    sim::SampleImageSpec spec;
    spec.PayloadLength = 64 * 1024;
    const auto path = UseImage(spec);
    m_View.OnProgress = [&](unsigned position) {
        if (position == 1) {
            std::filesystem::resize_file(path, 512 + 28 + 1000);
        }
    };
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_EQ(m_pDevice->FinishCount(), 0U);
    EXPECT_LT(m_pDevice->DataPacketCount(), spec.PayloadLength / 32);
}

TEST_F(EngineRunTest, AFileChangedAfterTheQuestionIsCheckedAgainAtTheFirstAcknowledgement) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 320;
    const auto path = UseImage(spec);
    m_View.OnQuestion = [&] { std::filesystem::resize_file(path, 512 + 28 + 100); };
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_EQ(m_pDevice->DataPacketCount(), 0U);
}

// Counts the reads that brought nothing, to tie the polls to them.
class CCountingHidPort final : public CHidPort {
public:
    explicit CCountingHidPort(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        auto opened = m_Inner.OpenHidInterface(path);
        if (opened.Connection) {
            opened.Connection =
                std::make_unique<CCountingConnection>(std::move(opened.Connection), *this);
        }
        return opened;
    }
    std::atomic<std::size_t> TimedOutReads{0};

private:
    class CCountingConnection final : public CHidConnection {
    public:
        CCountingConnection(std::unique_ptr<CHidConnection> inner, CCountingHidPort& port)
            : m_pInner(std::move(inner)), m_Port(port) {}
        HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
            const auto status = m_pInner->ReadInputReport(report, timeout);
            if (status == HidIoStatus::TimedOut) {
                ++m_Port.TimedOutReads;
            }
            return status;
        }
        HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
            return m_pInner->WriteOutputReport(report);
        }

    private:
        std::unique_ptr<CHidConnection> m_pInner;
        CCountingHidPort& m_Port;
    };
    CHidPort& m_Inner;
};

TEST_F(EngineRunTest, ASilentDeviceGetsOnePollPerEmptyReadAndNoChunkAhead) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    m_pDevice->SetPacketFault(1, sim::PacketFault::Silence);  // no answer to the image header
    CCountingHidPort countingPort(m_Port);
    CHid hid(countingPort, m_Usb);
    CUpdateEngine engine(hid, m_View, m_Language);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(engine.OnUsbUpdate());
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() >= 10; }));
    EXPECT_EQ(hid.ReadTimeout(), kReadTimeoutDuringTransfer);
    engine.Shutdown();
    EXPECT_EQ(m_View.WaitForRunEnd(), UpdateOutcome::Cancelled);

    EXPECT_EQ(m_pDevice->PollCount(), countingPort.TimedOutReads.load());
    EXPECT_EQ(m_pDevice->DataPacketCount(), 0U);
    EXPECT_EQ(m_pDevice->FinishCount(), 0U);
}

TEST_F(EngineRunTest, AFinishThatCannotBeWrittenIsNotASuccess) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 64;
    UseImage(spec);
    m_View.OnProgress = [&](unsigned position) {
        if (position == 100) {
            m_pDevice->SetWritesFail(true);
        }
    };
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
}

TEST_F(EngineRunTest, AnUpdateRequestThatCannotBeWrittenEndsTheRunAndRefreshesTheButton) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    m_pEngine->Initialise();
    m_pDevice->SetWritesFail(true);
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_EQ(m_View.Buttons().back(), true);
    EXPECT_FALSE(m_pEngine->UpdateRunActive());
}

TEST_F(EngineRunTest, AVersionReplyIsHandledByWhicheverLoopReadsIt) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 256;
    UseImage(spec);
    // Slow replies keep the version query running while the update run starts beside it.
    m_pDevice->SetReplyLatency(std::chrono::milliseconds(30));
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_TRUE(m_View.WaitForVersionText("V1.05"));
    EXPECT_EQ(m_pEngine->Shared().DeviceVersion.load(), sim::kVirtualFirmwareVersion);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
    EXPECT_EQ(m_View.SuccessBoxes().size(), 1U);
    EXPECT_EQ(m_pDevice->FinishCount(), 1U);
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
}

// Replies that arrive outside a run, or that no run asked for, change nothing.
using DispatchTest = EngineFixture;

TEST_F(DispatchTest, RepliesOutsideARunNeverStartATransferOrReportSuccess) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    ASSERT_TRUE(m_Hid.DetectDevice());
    ASSERT_TRUE(m_Hid.OpenDevice());
    const std::vector<HidReport> replies = {
        Reply({0x01, 5, 0, 0x16, 1, 0, 0x14}),                    // acknowledgement in state 4
        Reply({0x01, 5, 0, 0x14, 1, 0, 0x32}),                    // memory reply "done"
        Reply({0x01, 5, 0, 0x19}),                                // update ready nobody asked for
        Reply({0x01, 5, 0, 0x16, 1, 0, 0x15}),                    // failure
        Reply({0x01, 5, 1, 0x16, 1, 0, 0x04, 0, 0, 7, 0, 0, 0}),  // byte 2 not zero
        Reply({0x01, 5, 0, 0x04, 1, 0, 0x14}),
        Reply({0x01, 5, 0, 0x77, 1, 0, 0x14}),
    };
    for (const auto& r : replies) {
        m_pEngine->DispatchReport(std::span(r).subspan(1));
    }
    EXPECT_TRUE(m_pDevice->Record().empty()) << "nothing was sent";
    EXPECT_TRUE(m_View.Prompts().empty());
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
    EXPECT_TRUE(m_View.Filters().empty());
    EXPECT_EQ(m_pEngine->Shared().DeviceVersion.load(), kDeviceVersionUnknown);
}

TEST_F(DispatchTest, VersionRepliesSetTheVersionTextAtAnyTime) {
    const std::vector<std::pair<std::array<std::uint8_t, 4>, std::string>> cases = {
        {{0x05, 0x01, 0x00, 0x00}, "V2.61"},
        {{0x64, 0x00, 0x01, 0x00}, "V1.00"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, "?"},
    };
    for (const auto& [bytes, text] : cases) {
        const HidReport r =
            Reply({0x01, 9, 0, 0x16, 6, 0, 0x04, 4, 0, bytes[0], bytes[1], bytes[2], bytes[3]});
        m_pEngine->DispatchReport(std::span(r).subspan(1));
        EXPECT_EQ(m_View.VersionTexts().back(), text);
        EXPECT_EQ(m_pEngine->VersionText(), text);
    }
}

TEST_F(DispatchTest, StartUpWithTheDeviceShowsItsVersionAndWithoutItDisablesTheButton) {
    m_pEngine->Initialise();
    EXPECT_TRUE(m_View.WaitForVersionText("V1.05"));
    EXPECT_EQ(m_View.Buttons().front(), true);
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);

    m_pDevice->Unplug();
    m_pEngine->Initialise();
    EXPECT_EQ(m_View.Buttons().back(), false);
    EXPECT_EQ(m_View.VersionTexts().back(), "");
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
}

TEST_F(DispatchTest, AVersionQueryToADeviceThatGoesAwayEndsQuietly) {
    m_pDevice->SetSilent(true);
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() >= 2; }));
    m_pDevice->Unplug();
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    EXPECT_TRUE(m_View.Prompts().empty());
}

}  // namespace
}  // namespace tarvex::testing
