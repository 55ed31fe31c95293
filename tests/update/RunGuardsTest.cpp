// The guards of a run: the device's lock (one program per device) and the sleep block. Each run
// takes both and lets them go when it ends, however it ends; a device that another program holds
// gets no report at all, and the button stays usable. Against fakes of both, then against the
// real logind backend on a private bus with a stand-in for logind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hid/DeviceIdentity.h"
#include "platform/linux/FlockDeviceLocks.h"
#include "platform/linux/LogindSleepInhibitor.h"
#include "tests/platform/LogindStandIn.h"
#include "tests/update/EngineTestSupport.h"
#include "ui/LocalizedText.h"

namespace tarvex::testing {
namespace {

using ::testing::Contains;
using ::testing::Field;
using ::testing::Not;

const std::string kDevice = sim::kVirtualUpdateDevicePath;
const std::string kDriveDevice = "virtual:usb-3a7e:6a01";
const std::string kBusyText =
    "The device is busy with another update: another program is updating it. Try again once "
    "that update has finished.";
const std::string kSleepWho = "Tarvex Update";
const std::string kSleepWhy = "Updating the firmware of a device";

// How a run is made to end.
enum class Ending { Success, FailureReply, Unplug, Declined };

struct EndingCase {
    const char* Name;
    Ending How;
    UpdateOutcome Outcome;
};

const EndingCase kEndings[] = {
    {"Success", Ending::Success, UpdateOutcome::Succeeded},
    {"FailureReply", Ending::FailureReply, UpdateOutcome::Failed},
    {"Unplug", Ending::Unplug, UpdateOutcome::Failed},
    {"Declined", Ending::Declined, UpdateOutcome::Cancelled},
};

void PrintTo(const EndingCase& testCase, std::ostream* out) {
    *out << testCase.Name;
}

std::string CaseName(const ::testing::TestParamInfo<EndingCase>& testCase) {
    return testCase.param.Name;
}

class GuardedEngineFixture : public EngineFixture {
protected:
    void UseGuards(RunGuardServices guards, DriveCopyServices driveCopy = {}) {
        m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language, driveCopy, guards);
    }
    void Arrange(Ending how) {
        UseImage({});
        switch (how) {
            case Ending::Success:
                break;
            case Ending::FailureReply:
                m_pDevice->SetPacketFault(4, sim::PacketFault::FailureReply);
                break;
            case Ending::Unplug:
                m_pDevice->SetPacketFault(4, sim::PacketFault::Disappear);
                break;
            case Ending::Declined:
                m_View.QuestionAnswer = kPromptCancel;
                break;
        }
    }

    CFakeDeviceLocks m_Locks;
    CFakeSleepInhibitor m_Inhibitor;
};

class RunGuardsEnding : public GuardedEngineFixture,
                        public ::testing::WithParamInterface<EndingCase> {};

TEST_P(RunGuardsEnding, TheRunHoldsTheLockAndTheSleepBlockUntilItEnds) {
    UseGuards({&m_Locks, &m_Inhibitor});
    Arrange(GetParam().How);
    int locksAtQuestion = -1;
    int blocksAtQuestion = -1;
    m_View.OnQuestion = [&] {
        locksAtQuestion = m_Locks.LiveLocks(kDevice);
        blocksAtQuestion = m_Inhibitor.LiveBlocks();
    };

    EXPECT_EQ(RunUpdate(), GetParam().Outcome) << WhatWasSeen();
    EXPECT_GE(locksAtQuestion, 1) << "no lock while the run asked its question";
    EXPECT_EQ(blocksAtQuestion, 1) << "no sleep block while the run asked its question";
    // Let go before the view heard of the end.
    EXPECT_EQ(m_Inhibitor.LiveBlocks(), 0);
    EXPECT_TRUE(WaitUntil([&] { return m_Locks.LiveLocks(kDevice) == 0; }, kRunBound))
        << m_Locks.LiveLocks(kDevice) << " locks still held";
    const std::vector<std::pair<std::string, std::string>> asked{{kSleepWho, kSleepWhy}};
    EXPECT_EQ(m_Inhibitor.Asked(), asked);
    // The lock was asked for before the first report: the version query's.
    ASSERT_FALSE(m_Locks.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Endings, RunGuardsEnding, ::testing::ValuesIn(kEndings), CaseName);

using RunGuardsTest = GuardedEngineFixture;

TEST_F(RunGuardsTest, ADeviceAnotherProgramUpdatesGetsNoReportAndTheButtonStaysUsable) {
    UseGuards({&m_Locks, &m_Inhibitor});
    UseImage({});
    m_Locks.SetHeldElsewhere(kDevice, true);

    m_pEngine->Initialise();
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    EXPECT_TRUE(m_pEngine->DeviceBusyAtLastPress());
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    EXPECT_THAT(m_View.Prompts(), Contains(Field(&Prompt::Text, kBusyText)));
    EXPECT_TRUE(m_pDevice->Record().empty()) << "neither a version query nor a request";
    EXPECT_THAT(m_View.Buttons(), Not(Contains(false))) << "the button was disabled";
    EXPECT_TRUE(m_Inhibitor.Asked().empty()) << "a sleep block for a run that never began";

    // Once the other program is done, the same button works.
    m_Locks.SetHeldElsewhere(kDevice, false);
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_FALSE(m_pEngine->DeviceBusyAtLastPress());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Succeeded) << WhatWasSeen();
    EXPECT_EQ(m_pDevice->FinishCount(), 1U);
}

// A window that was open before the other program took the device: its next detection asks for
// the version only when the device is free.
TEST_F(RunGuardsTest, AVersionQueryAsksNothingWhileAnotherProgramHoldsTheDevice) {
    UseGuards({&m_Locks, &m_Inhibitor});
    m_Locks.SetHeldElsewhere(kDevice, true);
    m_pEngine->Initialise();
    m_pEngine->OnDeviceChange(kDeviceArrival);
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 0U);

    m_Locks.SetHeldElsewhere(kDevice, false);
    m_pEngine->OnDeviceChange(kDeviceArrival);
    EXPECT_TRUE(m_View.WaitForVersionText("V1.05"));
    EXPECT_TRUE(WaitUntil([&] { return m_Locks.LiveLocks(kDevice) == 0; }, kRunBound))
        << "the query kept its lock after it ended";
}

// A device that never answers the version query: the query gives up at its limit (the README's
// 5 s, measured on a clock the test moves), lets the device go for other programs, and the
// button still works.
TEST_F(RunGuardsTest, AnUnansweredVersionQueryEndsAtItsLimitAndLetsTheDeviceGo) {
    constexpr std::chrono::seconds kPromisedQueryLimit{5};
    CManualClock clock;
    UseGuards({&m_Locks, &m_Inhibitor});
    m_pEngine->SetClock(clock.AsNow());
    m_pDevice->SetSilent(true);
    m_pEngine->Initialise();
    // A poll after the query: its loop runs, and its time limit is set.
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->PollCount() > 0; }, kRunBound));
    const auto passesAfter = [&](std::chrono::milliseconds by) {
        const std::size_t polls = m_pDevice->PollCount();
        clock.Advance(by);
        return WaitUntil([&] { return m_pDevice->PollCount() >= polls + 2; }, kRunBound);
    };

    ASSERT_TRUE(passesAfter(kPromisedQueryLimit - std::chrono::milliseconds(100)));
    EXPECT_TRUE(m_pEngine->VersionQueryRunning()) << "the query gave up before its limit";
    EXPECT_EQ(m_Locks.LiveLocks(kDevice), 1);

    clock.Advance(std::chrono::milliseconds(200));
    EXPECT_TRUE(WaitUntil([&] { return !m_pEngine->VersionQueryRunning(); }, kRunBound))
        << "the query went on past its limit";
    EXPECT_TRUE(WaitUntil([&] { return m_Locks.LiveLocks(kDevice) == 0; }, kRunBound))
        << "the query kept the device's lock after it ended";
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
    EXPECT_EQ(m_View.Buttons().back(), true);
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);

    // The device wakes up: the button that stayed usable starts a whole run.
    m_pDevice->SetSilent(false);
    UseImage({});
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Succeeded) << WhatWasSeen();
    EXPECT_TRUE(WaitUntil([&] { return m_Locks.LiveLocks(kDevice) == 0; }, kRunBound));
}

// Arrival notices while a query waits for a silent device: still one query, which asks again
// on the latest connection, and ends with the answer once the device gives one.
TEST_F(RunGuardsTest, ArrivalsWhileAVersionQueryWaitsStartNoSecondQuery) {
    CManualClock clock;  // never moved: the query does not give up while the test looks
    UseGuards({&m_Locks, &m_Inhibitor});
    m_pEngine->SetClock(clock.AsNow());
    m_pDevice->SetSilent(true);
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->VersionQueryCount() == 1; }, kRunBound));
    for (int arrival = 0; arrival < 10; ++arrival) {
        m_pEngine->OnDeviceChange(kDeviceArrival);
    }
    EXPECT_EQ(m_pEngine->RunningWorkers(), 1U) << "a query per arrival";
    EXPECT_LE(m_Locks.LiveLocks(kDevice), 1);

    m_pDevice->SetSilent(false);
    m_pEngine->OnDeviceChange(kDeviceArrival);
    EXPECT_TRUE(m_View.WaitForVersionText("V1.05"));
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    EXPECT_TRUE(WaitUntil([&] { return m_Locks.LiveLocks(kDevice) == 0; }, kRunBound));
}

// A drive-copy run: the volume of 104 KiB, written by a writer that looks at the guards.
class CCheckingWriter final : public CFileWriter {
public:
    std::function<void()> OnWrite;
    std::atomic<int> Writes{0};
    FileWriteResult WriteWholeFile(const std::filesystem::path&,
                                   std::span<const std::uint8_t> bytes) override {
        ++Writes;
        if (OnWrite) {
            OnWrite();
        }
        return {FileWriteError::None, FileWriteStep::Close, bytes.size(), {}};
    }
};

class CDeviceVolume final : public CVolumeList {
public:
    std::vector<VolumeInfo> ListVolumes() override {
        return {VolumeInfo{"/media/device", "/dev/sdz1", 0x1A000, {}, {}}};
    }
    bool CanFindVolumesOf(const std::string&) override { return false; }
};

TEST_F(RunGuardsTest, ADriveCopyLocksTheDriveModeDeviceAndKeepsTheMachineAwake) {
    CCheckingWriter writer;
    CDeviceVolume volume;
    UseGuards({&m_Locks, &m_Inhibitor}, DriveCopyServices{&volume, &m_Usb, &writer, {}});
    m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    UseImage({});

    m_Locks.SetHeldElsewhere(kDriveDevice, true);
    m_pEngine->Initialise();
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }, kRunBound));
    EXPECT_THAT(m_View.Prompts(), Contains(Field(&Prompt::Text, kBusyText)));
    EXPECT_EQ(writer.Writes.load(), 0);

    m_Locks.SetHeldElsewhere(kDriveDevice, false);
    int locksAtWrite = -1;
    int blocksAtWrite = -1;
    writer.OnWrite = [&] {
        locksAtWrite = m_Locks.LiveLocks(kDriveDevice);
        blocksAtWrite = m_Inhibitor.LiveBlocks();
    };
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    EXPECT_EQ(m_View.WaitForRunEnd(kRunBound), UpdateOutcome::Succeeded);
    EXPECT_EQ(locksAtWrite, 1);
    EXPECT_EQ(blocksAtWrite, 1);
    EXPECT_EQ(m_Locks.LiveLocks(kDriveDevice), 0);
    EXPECT_EQ(m_Inhibitor.LiveBlocks(), 0);
}

TEST_F(RunGuardsTest, ARefusedSleepBlockLeavesTheRunAsItWas) {
    m_Inhibitor.Refuse = true;
    UseGuards({&m_Locks, &m_Inhibitor});
    UseImage({});
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded) << WhatWasSeen();
    EXPECT_EQ(m_Inhibitor.Asked().size(), 1U);
}

// --- the real backends ---

class RunGuardsWithLogind : public GuardedEngineFixture,
                            public ::testing::WithParamInterface<EndingCase> {};

TEST_P(RunGuardsWithLogind, LogindSeesTheBlockTakenAndItsDescriptorClosed) {
    CLogindStandIn logind;
    ASSERT_EQ(logind.Problem(), "");
    CLogindSleepInhibitor inhibitor(logind.BusAddress());
    UseGuards({&m_Locks, &inhibitor});
    Arrange(GetParam().How);

    EXPECT_EQ(RunUpdate(), GetParam().Outcome) << WhatWasSeen();
    EXPECT_EQ(logind.NextEvent(),
              "inhibit 1 sleep:idle:handle-lid-switch|" + kSleepWho + "|" + kSleepWhy + "|block");
    EXPECT_EQ(logind.NextEvent(), "released 1");
}

INSTANTIATE_TEST_SUITE_P(Endings, RunGuardsWithLogind, ::testing::ValuesIn(kEndings), CaseName);

// No system bus at all, and a device whose name is no node that could be locked: the run goes
// on as it always did.
TEST_F(RunGuardsTest, WithoutABusAndWithoutALockableNodeTheRunGoesOn) {
    CLogindSleepInhibitor inhibitor("unix:path=/nonexistent/tarvex/system_bus_socket");
    CFlockDeviceLocks locks;
    UseGuards({&locks, &inhibitor});
    UseImage({});
    EXPECT_EQ(RunUpdate(), UpdateOutcome::Succeeded) << WhatWasSeen();
}

}  // namespace
}  // namespace tarvex::testing
