// An update run started while the version query still waits for its answer shares the query's
// connection. On hidraw every open handle gets its own copy of each reply, so a second handle
// would let both loops handle the device's answer to the update request (the guest's real-stack
// test shows that); here the opens are counted.

#include <gtest/gtest.h>

#include "tests/update/EngineTestSupport.h"

namespace tarvex::testing {
namespace {

class CCountingOpens final : public CHidPort {
public:
    explicit CCountingOpens(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        ++m_Opens;
        return m_Inner.OpenHidInterface(path);
    }
    int Opens() const { return m_Opens.load(); }

private:
    CHidPort& m_Inner;
    std::atomic<int> m_Opens{0};
};

class ConnectionSharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = std::filesystem::temp_directory_path() /
                   ("tarvex-sharing-" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(m_Folder);
        ASSERT_TRUE(sim::WriteSampleImage(m_Folder / "image.dat", sim::SampleImageSpec{}));
        m_View.ImageAnswer = m_Folder / "image.dat";
        m_Port.AttachUpdateDevice(m_pDevice);
    }
    void TearDown() override {
        m_pEngine.reset();
        std::filesystem::remove_all(m_Folder);
    }

    std::filesystem::path m_Folder;
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    CCountingOpens m_CountingPort{m_Port};
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_CountingPort, m_Usb};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine =
        std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language);
};

TEST_F(ConnectionSharingTest, ARunStartedWhileTheVersionQueryWaitsOpensNoSecondConnection) {
    // Held replies keep the query waiting until the run has started: an answered query would
    // close its connection, and the run would rightly open its own.
    m_pDevice->HoldReplies(true);
    m_pEngine->Initialise();  // the detection's probe, then the query's own connection
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->VersionQueryCount() >= 1; }));
    const int opensBefore = m_CountingPort.Opens();

    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->UpdateRequestCount() == 1; }));
    EXPECT_EQ(m_CountingPort.Opens(), opensBefore);
    m_pDevice->HoldReplies(false);
    const auto outcome = m_View.WaitForRunEnd();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(*outcome, UpdateOutcome::Succeeded);
    EXPECT_EQ(m_View.Filters().size(), 1u);
}

TEST_F(ConnectionSharingTest, ARunStartedAfterTheVersionCameOpensItsOwnConnection) {
    m_pEngine->Initialise();
    ASSERT_TRUE(m_View.WaitForVersionText("V1.05"));
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    const int opensBefore = m_CountingPort.Opens();
    // Held replies keep the run at its request: a run that ran to its end here would open
    // again for the next version query before the count is read.
    m_pDevice->HoldReplies(true);

    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    ASSERT_TRUE(WaitUntil([&] { return m_pDevice->QueuedReplyCount() > 0; }));
    EXPECT_EQ(m_CountingPort.Opens(), opensBefore + 1);
    m_pDevice->HoldReplies(false);
    const auto outcome = m_View.WaitForRunEnd();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(*outcome, UpdateOutcome::Succeeded);
}

}  // namespace
}  // namespace tarvex::testing
