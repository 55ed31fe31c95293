// The engine against the virtual device: whole runs, the dispatch of every kind of reply, the
// image selection's paths, every way a run can fail, the run's identity and stopping. Runs that
// must end are given kRunBound to do so, and a failure says what the device saw.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <mutex>

#include "hid/ReportSenders.h"
#include "tests/update/EngineTestSupport.h"
#include "ui/LocalizedText.h"

namespace tarvex::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

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

// Where an image built from `spec` has its ImageHeader and its payload.
std::size_t HeaderOffsetOf(const sim::SampleImageSpec& spec) {
    return std::size_t{spec.LeadSize} + 512;
}
std::size_t PayloadStartOf(const sim::SampleImageSpec& spec) {
    return HeaderOffsetOf(spec) + 28;
}

// `count` bytes of the image file from `offset` on.
std::vector<std::uint8_t> FileBytes(const sim::SampleImageSpec& spec, std::size_t offset,
                                    std::size_t count) {
    const auto image = sim::BuildSampleImage(spec);
    return {image.begin() + static_cast<std::ptrdiff_t>(offset),
            image.begin() + static_cast<std::ptrdiff_t>(offset + count)};
}

// The packet number of the last data packet of a payload longer than one chunk.
std::size_t LastDataPacket(std::uint32_t payloadLength) {
    return 2 + (payloadLength + 31) / 32 - 1;
}

using EngineRunTest = EngineFixture;

TEST_F(EngineRunTest, WholeRunsDeliverExactlyThePayload) {
    struct Case {
        std::uint32_t payload;
        std::uint32_t trailing;
        std::size_t dataPackets;
        std::vector<unsigned> progress;  // after the start's 0, before the end's 0
        std::size_t bytesSent;           // from the payload's start: the payload and what follows
    };
    const std::vector<Case> cases = {
        {100, 0, 4, {64, 96, 100}, 100},
        {100, 40, 4, {64, 96, 128}, 128},  // the last chunk carries 28 bytes past the payload
        {20, 0, 2, {100}, 20},             // then one empty packet
        {20, 50, 2, {320}, 64},            // 12 bytes past the payload, then 32 more
        {32, 0, 2, {100}, 32},
        {64, 0, 2, {100}, 64},
        {4096, 0, 128, {}, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.payload << " + " << c.trailing);
        m_pDevice->Reset();
        sim::SampleImageSpec spec;
        spec.PayloadLength = c.payload;
        spec.TrailingBytes = c.trailing;
        spec.Seed = c.payload + c.trailing;
        UseImage(spec);
        const std::size_t progressBefore = m_View.Progress().size();

        ASSERT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
        EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
        // The bytes past the payload are the file's own, not just as many as it has.
        EXPECT_EQ(m_pDevice->ReceivedDataBytes(),
                  FileBytes(spec, PayloadStartOf(spec), c.bytesSent));
        EXPECT_EQ(m_pDevice->ReceivedImageHeader(), FileBytes(spec, HeaderOffsetOf(spec), 28));
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
    const auto withPayloadLength = [&](std::uint32_t length) {
        auto b = good;
        for (std::size_t i = 0; i < 4; ++i) {
            b[512 + 8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        }
        return b;
    };
    // A payload one byte beyond what an update holds in memory (32 MiB with the lead section
    // and the header), in a sparse file that really is that long.
    const std::uint32_t tooLarge = 32 * 1024 * 1024 - 540 + 1;
    struct Case {
        const char* name;
        std::function<std::vector<std::uint8_t>()> bytes;  // empty function: no file
        std::uint64_t sizeAfter;                           // 0: as written
    };
    const std::vector<Case> cases = {
        {"missing", nullptr, 0},
        {"shorter than 16 bytes", [&] { return std::vector(good.begin(), good.begin() + 15); }, 0},
        {"ends inside the image header",
         [&] { return std::vector(good.begin(), good.begin() + 512 + 27); }, 0},
        {"empty payload", [&] { return withPayloadLength(0); }, 0},
        {"payload past the end", [&] { return std::vector(good.begin(), good.end() - 1); }, 0},
        {"larger than an update holds", [&] { return withPayloadLength(tooLarge); },
         540 + std::uint64_t{tooLarge}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = m_Folder / (std::string(c.name) + ".dat");
        if (c.bytes) {
            const auto bytes = c.bytes();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            if (c.sizeAfter != 0) {
                std::filesystem::resize_file(path, c.sizeAfter);
            }
        }
        m_View.ImageAnswer = path;
        const std::size_t before = NoticeTexts(m_View.Prompts()).size();
        EXPECT_EQ(RunUpdate(), UpdateOutcome::ImageRefused);
        const auto notices = NoticeTexts(m_View.Prompts());
        ASSERT_EQ(notices.size(), before + 1);
        EXPECT_EQ(notices.back(), kOpenError);
        EXPECT_FALSE(m_pDevice->ReceivedImageHeader().has_value());
        std::filesystem::remove(path);
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

// Each run must end within the bound, at the failure reply: one that is ignored leaves the run
// waiting for an acknowledgement that never comes. At the last data packet the reply also
// checks that the finish waits for that packet's own answer.
TEST_F(EngineRunTest, FailureRepliesEndTheRunAndTheNextRunStartsAfresh) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 200;
    UseImage(spec);
    const std::size_t lastData = LastDataPacket(spec.PayloadLength);
    for (const std::uint8_t code : {std::uint8_t{0x15}, std::uint8_t{0x18}}) {
        for (const std::size_t packet :
             {std::size_t{0}, std::size_t{1}, std::size_t{4}, lastData}) {
            SCOPED_TRACE(::testing::Message() << "code " << int(code) << " at packet " << packet);
            m_pDevice->Reset();
            m_pDevice->ClearFaults();
            m_pDevice->SetPacketFault(packet, sim::PacketFault::FailureReply, code);
            const std::size_t before = NoticeTexts(m_View.Prompts()).size();
            EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
            const auto notices = NoticeTexts(m_View.Prompts());
            ASSERT_EQ(notices.size(), before + 1) << WhatWasSeen();
            EXPECT_EQ(notices.back(), kFailure);
            EXPECT_EQ(m_pDevice->FinishCount(), 0U) << WhatWasSeen();
            EXPECT_TRUE(m_View.SuccessBoxes().empty());
        }
    }
    m_pDevice->Reset();
    m_pDevice->ClearFaults();
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
    EXPECT_EQ(m_View.Buttons().back(), true);
}

// The finish command goes out on the acknowledgement of the last data packet, never on its
// own: a device that stays silent there gets no finish, and the run ends with the failure text
// once the device has been silent for the engine's limit.
TEST_F(EngineRunTest, SilenceAfterTheLastDataPacketGetsNoFinishAndEndsTheRun) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 200;
    UseImage(spec);
    m_pEngine->SetDeviceSilenceLimit(std::chrono::milliseconds(300));
    m_pDevice->SetPacketFault(LastDataPacket(spec.PayloadLength), sim::PacketFault::Silence);
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
    EXPECT_EQ(m_pDevice->DataPacketCount(), 7U) << WhatWasSeen();
    EXPECT_EQ(m_pDevice->FinishCount(), 0U) << WhatWasSeen();
    EXPECT_GT(m_pDevice->PollCount(), 0U) << "the engine kept asking";
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
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

// Writes the system refuses, with the device still there: each ends the run with the failure
// text at once. Counted as sent, a refused chunk would leave the device a chunk short while the
// transfer moves on (with a repeated acknowledgement, all the way to "success").
TEST_F(EngineRunTest, AWriteThatFailsEndsTheRunAtOnce) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 320;
    UseImage(spec);
    const std::size_t lastData = LastDataPacket(spec.PayloadLength);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::size_t dataPacketsTaken;
    };
    const std::vector<Case> cases = {
        {"a data packet after a repeated acknowledgement",
         [&] {
             m_pDevice->SetPacketFault(3, sim::PacketFault::RepeatAck);
             m_pDevice->RefuseWriteOf(4);
         },
         2},
        {"the image header", [&] { m_pDevice->RefuseWriteOf(1); }, 0},
        {"a data packet", [&] { m_pDevice->RefuseWriteOf(4); }, 2},
        {"the last data packet", [&] { m_pDevice->RefuseWriteOf(lastData); }, 9},
        {"the finish command", [&] { m_pDevice->RefuseWritesAfter(lastData); }, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_pDevice->Reset();
        m_pDevice->ClearFaults();
        c.arrange();
        const std::size_t before = NoticeTexts(m_View.Prompts()).size();
        EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
        const auto notices = NoticeTexts(m_View.Prompts());
        ASSERT_EQ(notices.size(), before + 1) << WhatWasSeen();
        EXPECT_EQ(notices.back(), kFailure);
        EXPECT_EQ(m_pDevice->DataPacketCount(), c.dataPacketsTaken) << WhatWasSeen();
        EXPECT_EQ(m_pDevice->FinishCount(), 0U);
        EXPECT_TRUE(m_View.SuccessBoxes().empty());
    }
}

// A device that takes nothing any more while it stays silent: only polls are left to write,
// and when they keep failing the run ends, although every read merely times out.
TEST_F(EngineRunTest, PollsThatKeepFailingEndTheRun) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 320;
    UseImage(spec);
    m_pDevice->SetPacketFault(4, sim::PacketFault::Silence);
    m_pDevice->RefuseWritesAfter(4);
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure)) << WhatWasSeen();
    EXPECT_EQ(m_pDevice->DataPacketCount(), 3U);
}

// The image is read once, when it is chosen: whatever happens to the file afterwards, the
// device gets the bytes the user confirmed.
TEST_F(EngineRunTest, AnImageFileChangedAfterTheChoiceChangesNothing) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 320;
    spec.TrailingBytes = 20;
    sim::SampleImageSpec other = spec;
    other.Seed = 99;
    other.Version = 120;
    enum class Moment { AtTheQuestion, DuringTheTransfer };
    struct Change {
        const char* name;
        std::function<void(const std::filesystem::path&)> apply;
    };
    const std::vector<Change> changes = {
        {"rewritten in place",
         [&](const std::filesystem::path& path) {
             const auto bytes = sim::BuildSampleImage(other);
             std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
             file.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
         }},
        {"replaced by another file",
         [&](const std::filesystem::path& path) {
             const auto replacement = m_Folder / "replacement.dat";
             EXPECT_TRUE(sim::WriteSampleImage(replacement, other));
             std::filesystem::rename(replacement, path);
         }},
        {"cut short",
         [](const std::filesystem::path& path) { std::filesystem::resize_file(path, 600); }},
        {"removed", [](const std::filesystem::path& path) { std::filesystem::remove(path); }},
    };
    for (const Moment moment : {Moment::AtTheQuestion, Moment::DuringTheTransfer}) {
        for (const auto& change : changes) {
            SCOPED_TRACE(::testing::Message()
                         << change.name
                         << (moment == Moment::AtTheQuestion ? " at the question" : " mid-run"));
            m_pDevice->Reset();
            const auto path = UseImage(spec);
            bool changed = false;
            const auto changeOnce = [&] {
                if (!changed) {
                    changed = true;
                    change.apply(path);
                }
            };
            if (moment == Moment::AtTheQuestion) {
                m_View.OnQuestion = changeOnce;
            } else {
                m_View.OnProgress = [&](unsigned position) {
                    if (position > 0) {
                        changeOnce();
                    }
                };
            }
            EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded) << WhatWasSeen();
            EXPECT_TRUE(changed);
            EXPECT_EQ(m_pDevice->ReceivedImageHeader(), FileBytes(spec, HeaderOffsetOf(spec), 28));
            EXPECT_EQ(m_pDevice->ReceivedDataBytes(), FileBytes(spec, PayloadStartOf(spec), 320));
            m_View.OnQuestion = nullptr;
            m_View.OnProgress = nullptr;
        }
    }
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
    // Ten 10 ms time-outs after the header.
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() >= 10; }, kRunBound))
        << m_pDevice->PollCount() << " polls after " << countingPort.TimedOutReads.load()
        << " reads that timed out";
    EXPECT_EQ(hid.ReadTimeout(), kReadTimeoutDuringTransfer);
    engine.Shutdown();
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Cancelled);

    EXPECT_EQ(m_pDevice->PollCount(), countingPort.TimedOutReads.load());
    EXPECT_EQ(m_pDevice->DataPacketCount(), 0U);
    EXPECT_EQ(m_pDevice->FinishCount(), 0U);
}

TEST_F(EngineRunTest, AnUpdateRequestThatCannotBeWrittenEndsTheRunAndRefreshesTheButton) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    m_pEngine->Initialise();
    m_pDevice->SetWritesFail(true);
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Failed);
    EXPECT_THAT(NoticeTexts(m_View.Prompts()), ElementsAre(kFailure));
    EXPECT_EQ(m_View.Buttons().back(), true);
    EXPECT_FALSE(m_pEngine->UpdateRunActive());
}

// Only the update loop reads here (no version query was started), so it is the one that must
// take the version reply the device sends in the middle of the run.
TEST_F(EngineRunTest, TheUpdateLoopRecordsAVersionReplyThatComesDuringTheRun) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 256;
    UseImage(spec);
    ASSERT_TRUE(m_Hid.DetectDevice());
    m_View.OnProgress = [&](unsigned position) {
        if (position == 50) {
            m_pDevice->InjectInputReport(
                Reply({0x01, 11, 0, 0x16, 6, 0, 0x04, 4, 0, 0x02, 0x01, 0x00, 0x00}));
        }
    };
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Succeeded) << WhatWasSeen();
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 0U);
    // The reply was handled before the run could end.
    EXPECT_EQ(m_pEngine->Shared().DeviceVersion.load(), 0x102U);
    EXPECT_THAT(m_View.VersionTexts(), Contains("V2.58"));
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
    EXPECT_EQ(m_pDevice->FinishCount(), 1U);
}

// The other half: a version query still waiting ends as soon as some other loop has recorded
// the version (here the test's thread, dispatching as a loop does).
TEST_F(EngineRunTest, AVersionQueryEndsWhenAnotherLoopRecordsTheVersion) {
    m_pDevice->SetSilent(true);
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() >= 1; }, kRunBound));
    ASSERT_EQ(m_pEngine->RunningWorkers(), 1U);
    const HidReport version = Reply({0x01, 11, 0, 0x16, 6, 0, 0x04, 4, 0, 105, 0, 0, 0});
    m_pEngine->DispatchReport(std::span(version).subspan(1));
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound))
        << "the query kept polling: " << m_pDevice->PollCount() << " polls";
    EXPECT_TRUE(m_View.WaitForVersionText("V1.05"));
}

// --- the run's identity ---

class RunIdentityTest : public EngineFixture, public ::testing::WithParamInterface<bool> {};

// The run keeps the button and its slot until its last message has closed: neither a device
// notice nor a second press may start anything meanwhile, and the run's end carries its own
// outcome. (Parameter: the last message is the failure prompt, else the success box.)
TEST_P(RunIdentityTest, TheRunKeepsItsSlotUntilItsLastMessageCloses) {
    const bool failing = GetParam();
    sim::SampleImageSpec spec;
    spec.PayloadLength = 200;
    UseImage(spec);
    if (failing) {
        m_pDevice->SetPacketFault(4, sim::PacketFault::FailureReply);
    }
    std::promise<void> entered;
    std::promise<void> closed;
    std::shared_future<void> closedFuture = closed.get_future().share();
    std::once_flag enteredOnce;
    const auto block = [&] {
        std::call_once(enteredOnce, [&] { entered.set_value(); });
        closedFuture.wait();
    };
    if (failing) {
        m_View.OnNotice = [&](const std::string&) { block(); };
    } else {
        m_View.OnSuccessBox = block;
    }
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    if (entered.get_future().wait_for(kRunBound) != std::future_status::ready) {
        closed.set_value();
        FAIL() << "the run's last message never came: " << WhatWasSeen();
    }

    const std::size_t buttons = m_View.Buttons().size();
    m_pEngine->OnDeviceChange(kDeviceNodesChanged);
    m_pEngine->OnDeviceChange(kDeviceArrival);
    m_pEngine->RefreshDeviceState();
    const bool secondRun = m_pEngine->OnUsbUpdate();
    const auto during = m_View.Buttons();
    const std::size_t runsEndedDuring = m_View.RunsEnded();
    closed.set_value();

    EXPECT_FALSE(secondRun) << "a press while the first run's message is open started a run";
    EXPECT_TRUE(std::none_of(during.begin() + static_cast<std::ptrdiff_t>(buttons), during.end(),
                             [](bool enabled) { return enabled; }))
        << "the button came back before the run had ended";
    EXPECT_EQ(runsEndedDuring, 0U);
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound),
              failing ? UpdateOutcome::Failed : UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->UpdateRequestCount(), 1U);
    EXPECT_EQ(m_View.Buttons().back(), true);
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));

    // The next press is a run of its own, with its own outcome.
    m_pDevice->ClearFaults();
    m_pDevice->Reset();
    m_View.OnNotice = nullptr;
    m_View.OnSuccessBox = nullptr;
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_pDevice->UpdateRequestCount(), 1U);
    EXPECT_EQ(m_View.RunsEnded(), 2U);
}

INSTANTIATE_TEST_SUITE_P(LastMessage, RunIdentityTest, ::testing::Bool(), [](const auto& param) {
    return param.param ? "FailurePrompt" : "SuccessBox";
});

// --- a stop requested from outside (the terminal's Ctrl-C) ---

using StopRequestTest = EngineFixture;

// The stop comes after the press, before the worker writes the update request: the device
// hears nothing of the run.
TEST_F(StopRequestTest, AStopBeforeTheUpdateRequestIsWrittenWritesNothing) {
    sim::SampleImageSpec spec;
    UseImage(spec);
    std::atomic<bool> stop{false};
    m_pEngine->WatchStopRequest(stop);
    ASSERT_TRUE(m_Hid.DetectDevice());
    m_View.OnButton = [&](bool enabled) {
        if (!enabled) {
            stop.store(true);  // the press disables the button before the worker starts
        }
    };
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Cancelled);
    for (const auto& report : m_pDevice->Record()) {
        EXPECT_NE(report.Direction, sim::ReportDirection::ToDevice) << "a report was written";
    }
    EXPECT_TRUE(m_View.Prompts().empty());
    EXPECT_FALSE(m_pEngine->OnUsbUpdate()) << "no run starts after a stop";
}

TEST_F(StopRequestTest, AStopDuringTheTransferEndsTheRunCancelledWithoutAFinish) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 640;
    UseImage(spec);
    std::atomic<bool> stop{false};
    m_pEngine->WatchStopRequest(stop);
    m_View.OnProgress = [&](unsigned position) {
        if (position >= 50) {
            stop.store(true);
        }
    };
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Cancelled);
    EXPECT_EQ(m_pDevice->FinishCount(), 0U);
    EXPECT_LT(m_pDevice->DataPacketCount(), 20U);
    EXPECT_TRUE(NoticeTexts(m_View.Prompts()).empty());
    EXPECT_TRUE(m_View.SuccessBoxes().empty());
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

// Reports whose byte 2 is not zero are no replies of the device's, also during a run: not an
// acknowledgement, a failure, a success or an update ready. Dispatched one by one in every state
// of a run, so that one handled by mistake shows at once.
TEST_F(DispatchTest, UnmarkedReportsDuringARunChangeNothing) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = 100;
    UseImage(spec);
    ASSERT_TRUE(m_Hid.DetectDevice());
    ASSERT_TRUE(m_Hid.OpenDevice());
    ASSERT_NE(m_pEngine->BeginUpdateRun(), 0U);
    const std::vector<HidReport> unmarked = {
        Reply({0x01, 5, 1, 0x16, 1, 0, 0x14}),  // acknowledgement
        Reply({0x01, 5, 1, 0x16, 1, 0, 0x15}),  // failure
        Reply({0x01, 5, 1, 0x16, 1, 0, 0x18}),  // failure
        Reply({0x01, 5, 1, 0x14, 1, 0, 0x32}),  // memory reply "done"
        Reply({0x01, 5, 1, 0x19}),              // update ready
        Reply({0x01, 5, 0x80, 0x16, 1, 0, 0x14}),
    };
    const auto sentReports = [&] {
        const auto record = m_pDevice->Record();
        return std::count_if(record.begin(), record.end(), [](const sim::RecordedReport& r) {
            return r.Direction == sim::ReportDirection::ToDevice;
        });
    };
    const auto dispatch = [&](const HidReport& r) {
        m_pEngine->DispatchReport(std::span(r).subspan(1));
    };
    const auto unmarkedChangeNothing = [&](const char* state) {
        SCOPED_TRACE(state);
        const auto sent = sentReports();
        const auto progress = m_View.Progress().size();
        for (const auto& r : unmarked) {
            dispatch(r);
            EXPECT_EQ(sentReports(), sent) << "a report was sent for byte 2 = " << int(r[2]);
        }
        EXPECT_TRUE(m_pEngine->UpdateRunActive());
        EXPECT_EQ(m_View.Progress().size(), progress);
        EXPECT_TRUE(NoticeTexts(m_View.Prompts()).empty());
        EXPECT_TRUE(m_View.SuccessBoxes().empty());
    };
    const HidReport updateReady = Reply({0x01, 5, 0, 0x19});
    const HidReport ack = Reply({0x01, 5, 0, 0x16, 1, 0, 0x14});

    unmarkedChangeNothing("before the image is chosen");
    EXPECT_TRUE(m_View.Filters().empty());
    dispatch(updateReady);
    ASSERT_TRUE(m_pDevice->ReceivedImageHeader().has_value());
    unmarkedChangeNothing("header sent");
    dispatch(ack);
    ASSERT_EQ(m_pDevice->DataPacketCount(), 1U);
    unmarkedChangeNothing("sending the payload");
    for (int i = 0; i < 3; ++i) {
        dispatch(ack);
    }
    ASSERT_EQ(m_pDevice->DataPacketCount(), 4U);
    unmarkedChangeNothing("payload sent");
    EXPECT_EQ(m_pDevice->FinishCount(), 0U);
    EXPECT_EQ(m_View.Filters().size(), 1U);

    dispatch(ack);
    EXPECT_EQ(m_pDevice->FinishCount(), 1U);
    EXPECT_EQ(m_View.SuccessBoxes().size(), 1U);
    EXPECT_EQ(m_pDevice->ReceivedPayload(), sim::SamplePayload(spec));
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
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() >= 2; }, kRunBound));
    m_pDevice->Unplug();
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    EXPECT_TRUE(m_View.Prompts().empty());
}

// The device takes every report, but the system says each write failed (what a strict count
// of the bytes written made of every write under wine).
class CWritesReportedFailedPort final : public CHidPort {
public:
    explicit CWritesReportedFailedPort(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        HidOpenResult opened = m_Inner.OpenHidInterface(path);
        if (opened.Connection) {
            opened.Connection = std::make_unique<CFailedWrites>(std::move(opened.Connection));
        }
        return opened;
    }

private:
    class CFailedWrites final : public CHidConnection {
    public:
        explicit CFailedWrites(std::unique_ptr<CHidConnection> inner)
            : m_pInner(std::move(inner)) {}
        HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override {
            return m_pInner->ReadInputReport(report, timeout);
        }
        HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override {
            m_pInner->WriteOutputReport(report);
            return HidIoStatus::Failed;
        }

    private:
        std::unique_ptr<CHidConnection> m_pInner;
    };
    CHidPort& m_Inner;
};

TEST_F(DispatchTest, AVersionQueryWhoseWriteFailedEndsWithoutTakingAVersion) {
    CWritesReportedFailedPort port(m_Port);
    CHid hid(port, m_Usb);
    CRecordingView view;
    auto engine = std::make_unique<CUpdateEngine>(hid, view, m_Language);
    engine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->VersionQueryCount() == 1; }, kRunBound));
    EXPECT_TRUE(WaitUntil([&] { return engine->RunningWorkers() == 0; }, kRunBound))
        << "the query went on after its write failed";
    EXPECT_EQ(engine->Shared().DeviceVersion.load(), kDeviceVersionUnknown)
        << "a reply to a report that counts as not sent was taken as the version";
    EXPECT_EQ(m_pDevice->PollCount(), 0U);
    engine.reset();
}

}  // namespace
}  // namespace tarvex::testing
