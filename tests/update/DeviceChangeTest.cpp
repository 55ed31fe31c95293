// The window's answer to device-change notices, through the same notice interface the udev
// monitor implements: which notices run a detection, what each does to the button, the version
// text and the version query, and the permission notice for a device that will not open.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "hid/DeviceIdentity.h"
#include "sim/VirtualDeviceNotices.h"
#include "tests/update/EngineTestSupport.h"
#include "tests/update/SystemTexts.h"
#include "ui/LocalizedText.h"
#include "update/DeviceNoticePump.h"

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kVersion = "V1.05";

// Every detection lists the USB devices first, so the calls count detections; the HID port's
// listings count the detections that went on to search the HID interfaces.
class CCountingUsbDeviceList final : public CUsbDeviceList {
public:
    explicit CCountingUsbDeviceList(CUsbDeviceList& inner) : m_Inner(inner) {}
    std::vector<UsbDeviceInfo> ListUsbDevices() override {
        ++m_Calls;
        return m_Inner.ListUsbDevices();
    }
    std::size_t Calls() const { return m_Calls.load(); }

private:
    CUsbDeviceList& m_Inner;
    std::atomic<std::size_t> m_Calls{0};
};

class CCountingHidPort final : public CHidPort {
public:
    explicit CCountingHidPort(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        ++m_Listings;
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        return m_Inner.OpenHidInterface(path);
    }
    std::size_t Listings() const { return m_Listings.load(); }

private:
    CHidPort& m_Inner;
    std::atomic<std::size_t> m_Listings{0};
};

class DeviceChangeFixture : public ::testing::Test {
protected:
    void SetUp() override { m_Port.AttachUpdateDevice(m_pDevice); }
    void TearDown() override { m_pEngine.reset(); }

    // Start-up with the device attached, up to the version it reports.
    void StartWithDevice() {
        m_pEngine->Initialise();
        ASSERT_TRUE(m_View.WaitForVersionText(kVersion));
        ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    }

    // Joins every worker the notices started, so that counts read afterwards are final.
    void Settle() { m_pEngine->Shutdown(); }

    template <typename T>
    static std::vector<T> Since(const std::vector<T>& all, std::size_t from) {
        return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
    }

    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CCountingHidPort m_HidCounter{m_Port};
    CCountingUsbDeviceList m_UsbCounter{m_Usb};
    sim::CVirtualDeviceNotices m_Notices;
    CHid m_Hid{m_HidCounter, m_UsbCounter, &m_Notices};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine =
        std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language);
};

// What changed on the machine before the notice arrives.
enum class World { Unchanged, DeviceGone, ForeignAdded, DeviceGoneForeignStays, DriveModeAdded };

struct NoticeCase {
    const char* Name;
    World Change;
    std::uint32_t EventType;
    std::size_t Detections;
    std::size_t HidSearches;
    std::vector<bool> Buttons;
    std::vector<std::string> VersionTexts;
    std::size_t VersionQueries;
};

void PrintTo(const NoticeCase& c, std::ostream* out) {
    *out << c.Name;
}

class NoticeTableTest : public DeviceChangeFixture,
                        public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeTableTest, FollowsTheTable) {
    const NoticeCase& c = GetParam();
    StartWithDevice();
    switch (c.Change) {
        case World::Unchanged:
            break;
        case World::DeviceGone:
            m_pDevice->Unplug();
            break;
        case World::ForeignAdded:
            m_Port.AddForeignInterface(0x046D, 0xC52B, /*first=*/true);
            break;
        case World::DeviceGoneForeignStays:
            m_pDevice->Unplug();
            m_Port.AddForeignInterface(0x046D, 0xC52B, /*first=*/false);
            break;
        case World::DriveModeAdded:
            m_Usb.AddDevice(kTargetVendorId, 0x6A04);
            break;
    }
    const std::size_t detections = m_UsbCounter.Calls();
    const std::size_t searches = m_HidCounter.Listings();
    const std::size_t buttons = m_View.Buttons().size();
    const std::size_t texts = m_View.VersionTexts().size();
    const std::size_t queries = m_pDevice->VersionQueryCount();

    m_pEngine->OnDeviceChange(c.EventType);
    // A version query started here runs until the device has answered it.
    ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    Settle();

    EXPECT_EQ(m_UsbCounter.Calls() - detections, c.Detections);
    EXPECT_EQ(m_HidCounter.Listings() - searches, c.HidSearches);
    EXPECT_EQ(Since(m_View.Buttons(), buttons), c.Buttons);
    EXPECT_EQ(Since(m_View.VersionTexts(), texts), c.VersionTexts);
    EXPECT_EQ(m_pDevice->VersionQueryCount() - queries, c.VersionQueries);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceChange, NoticeTableTest,
    ::testing::Values(
        NoticeCase{"TreeChangedDeviceStays", World::Unchanged, 7, 1, 1, {true}, {kVersion}, 0},
        NoticeCase{"TreeChangedDeviceGone", World::DeviceGone, 7, 1, 1, {false}, {""}, 0},
        // The version is shown at once, and again when the new query's answer comes.
        NoticeCase{
            "ArrivalDeviceThere", World::Unchanged, 0x8000, 1, 1, {true}, {kVersion, kVersion}, 1},
        NoticeCase{"ArrivalDeviceGone", World::DeviceGone, 0x8000, 1, 1, {}, {}, 0},
        NoticeCase{"ArrivalOfAnUnrelatedHidDevice",
                   World::ForeignAdded,
                   0x8000,
                   1,
                   1,
                   {true},
                   {kVersion, kVersion},
                   1},
        NoticeCase{"RemovalNothingLeft", World::DeviceGone, 0x8004, 1, 1, {false}, {""}, 0},
        NoticeCase{"RemovalDeviceStays", World::Unchanged, 0x8004, 1, 1, {}, {}, 0},
        // Another interface opened during the search, so the mode no longer reads "ready".
        NoticeCase{
            "RemovalOtherHidDeviceOpens", World::DeviceGoneForeignStays, 0x8004, 1, 1, {}, {}, 0},
        NoticeCase{"TreeChangedOtherHidDeviceOpens",
                   World::DeviceGoneForeignStays,
                   7,
                   1,
                   1,
                   {false},
                   {""},
                   0},
        // Only the low 16 bits name the event.
        NoticeCase{"HighBitsIgnored", World::DeviceGone, 0xABCD0007, 1, 1, {false}, {""}, 0},
        NoticeCase{
            "DriveModeWinsOnTreeChange", World::DriveModeAdded, 7, 1, 0, {true}, {kVersion}, 0},
        NoticeCase{
            "DriveModeWinsOnArrival", World::DriveModeAdded, 0x8000, 1, 0, {true}, {kVersion}, 0},
        NoticeCase{"ConfigChangedRunsNothing", World::DeviceGone, 0x0018, 0, 0, {}, {}, 0},
        NoticeCase{"QueryRemoveRunsNothing", World::DeviceGone, 0x8001, 0, 0, {}, {}, 0},
        NoticeCase{"CustomEventRunsNothing", World::DeviceGone, 0x8006, 0, 0, {}, {}, 0},
        NoticeCase{
            "ArrivalInTheHighBitsOnlyRunsNothing", World::DeviceGone, 0x80000000, 0, 0, {}, {}, 0}),
    [](const auto& param) { return std::string(param.param.Name); });

// The subtle pair: the removal notice leaves the button while another HID interface opens, and
// the tree-changed notice the system sends with it disables it. Both come through the source in
// the order the system sends them.
TEST_F(DeviceChangeFixture, RemovalLeavesTheButtonAndTheTreeChangeDisablesIt) {
    m_Port.AddForeignInterface(0x046D, 0xC52B, /*first=*/false);
    StartWithDevice();
    const std::size_t buttons = m_View.Buttons().size();

    m_pDevice->Unplug();
    m_Notices.HidDeviceUnplugged();
    const auto notices = m_Notices.TakeNotices();
    ASSERT_THAT(notices, ElementsAre(kDeviceRemoveComplete, kDeviceNodesChanged));

    m_pEngine->OnDeviceChange(notices[0]);
    EXPECT_THAT(Since(m_View.Buttons(), buttons), IsEmpty());
    EXPECT_EQ(m_Hid.DeviceMode(), kDeviceModeForeign);
    m_pEngine->OnDeviceChange(notices[1]);
    EXPECT_THAT(Since(m_View.Buttons(), buttons), ElementsAre(false));
}

TEST_F(DeviceChangeFixture, PluggingInEnablesTheButtonAndAsksTheVersionOnce) {
    m_pDevice->Unplug();
    m_pEngine->Initialise();
    ASSERT_THAT(m_View.Buttons(), ElementsAre(false));
    ASSERT_TRUE(m_Notices.HidNoticesRegistered()) << "the start-up detection registers";

    m_pDevice->Plug();
    m_Notices.HidDevicePlugged();
    ASSERT_EQ(m_Notices.WaitForNotices(std::chrono::milliseconds(0)), NoticeWait::Waiting)
        << "the event loop is woken";
    EXPECT_EQ(DeliverDeviceNotices(m_Notices, *m_pEngine), 2U);
    EXPECT_EQ(m_Notices.WaitForNotices(std::chrono::milliseconds(0)), NoticeWait::TimedOut)
        << "and is not woken again for the same notices";

    EXPECT_TRUE(m_View.WaitForVersionText(kVersion));
    Settle();
    // Tree change, then arrival: both enable; only the arrival asks for the version.
    EXPECT_THAT(m_View.Buttons(), ElementsAre(false, true, true));
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);
}

// --- a start-up whose version query waits to be asked for (a window shows itself first) ---

// What happens between the start-up detection and the front end's call for the query.
enum class Meanwhile { Nothing, AskedTwice, DeviceArrived, DriveMode };

struct DueQueryCase {
    const char* Name;
    Meanwhile Between;
    std::size_t VersionQueries;
};

void PrintTo(const DueQueryCase& c, std::ostream* out) {
    *out << c.Name;
}

class DueVersionQueryTest : public DeviceChangeFixture,
                            public ::testing::WithParamInterface<DueQueryCase> {};

TEST_P(DueVersionQueryTest, AsksOnceWhenCalledFor) {
    const DueQueryCase& c = GetParam();
    if (c.Between == Meanwhile::DriveMode) {
        // Beside the update device, which would answer a query that should not be sent.
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
    }
    m_pEngine->Initialise(CUpdateEngine::VersionQueryStart::WhenAsked);
    // The button and the version text are set as at once; only the query waits.
    ASSERT_THAT(m_View.Buttons(), ElementsAre(true));
    ASSERT_THAT(m_View.VersionTexts(), ElementsAre(""));
    EXPECT_EQ(m_pEngine->RunningWorkers(), 0U);
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 0U);

    if (c.Between == Meanwhile::DeviceArrived) {
        m_pEngine->OnDeviceChange(0x8000);
        ASSERT_TRUE(m_View.WaitForVersionText(kVersion));
        ASSERT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
    }
    m_pEngine->StartDueVersionQuery();
    if (c.Between == Meanwhile::AskedTwice) {
        m_pEngine->StartDueVersionQuery();
    }
    if (c.VersionQueries > 0) {
        EXPECT_TRUE(m_View.WaitForVersionText(kVersion));
    }
    Settle();
    EXPECT_EQ(m_pDevice->VersionQueryCount(), c.VersionQueries);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceChange, DueVersionQueryTest,
    ::testing::Values(DueQueryCase{"AskedOnce", Meanwhile::Nothing, 1},
                      DueQueryCase{"AskedTwice", Meanwhile::AskedTwice, 1},
                      // The arrival's own query answers for the start-up's.
                      DueQueryCase{"AfterAnArrivalsQuery", Meanwhile::DeviceArrived, 1},
                      DueQueryCase{"DriveModeDeviceNeverAsked", Meanwhile::DriveMode, 0}),
    [](const auto& param) { return std::string(param.param.Name); });

// --- the update device is attached but will not open ---

// The system's notice for a device this user may not open (text 40 on Linux, 55 on Windows), as
// the user reads it (English).
std::string PermissionText() {
    return LoadLocalizedString(kSystemAccessDeniedText, kLanguageEnglishUs);
}

std::vector<std::string> PromptTexts(const std::vector<Prompt>& prompts) {
    std::vector<std::string> texts;
    for (const auto& p : prompts) {
        EXPECT_EQ(p.Mode, kPromptNotice);
        texts.push_back(p.Text);
    }
    return texts;
}

class OpenFailureTest : public DeviceChangeFixture,
                        public ::testing::WithParamInterface<HidOpenError> {};

TEST_P(OpenFailureTest, OnlyAMissingPermissionKeepsTheButtonAndExplainsThePress) {
    const HidOpenError error = GetParam();
    const bool permission = error == HidOpenError::PermissionDenied;
    m_Port.SetOpenError(error);
    m_pEngine->Initialise();
    EXPECT_THAT(m_View.Buttons(), ElementsAre(permission));
    EXPECT_THAT(m_View.VersionTexts(), ElementsAre(""));

    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    Settle();
    const std::vector<std::string> expected =
        permission ? std::vector<std::string>{PermissionText()} : std::vector<std::string>{};
    EXPECT_EQ(PromptTexts(m_View.Prompts()), expected);
    EXPECT_TRUE(m_pDevice->Record().empty()) << "nothing reached the device";
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(DeviceChange, OpenFailureTest,
                         ::testing::Values(HidOpenError::PermissionDenied, HidOpenError::Busy,
                                           HidOpenError::NotFound, HidOpenError::Other),
                         [](const auto& param) {
                             switch (param.param) {
                                 case HidOpenError::PermissionDenied:
                                     return "PermissionDenied";
                                 case HidOpenError::Busy:
                                     return "Busy";
                                 case HidOpenError::NotFound:
                                     return "NotFound";
                                 default:
                                     return "Other";
                             }
                         });

// Found and opened at detection, refused when the button is pressed (the rule changed, or the
// device was replugged with other permissions in between).
TEST_F(DeviceChangeFixture, APermissionRefusedAtThePressIsExplainedToo) {
    StartWithDevice();
    m_Port.SetOpenError(HidOpenError::Busy);
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    m_Port.SetOpenError(HidOpenError::PermissionDenied);
    EXPECT_FALSE(m_pEngine->OnUsbUpdate());
    Settle();
    EXPECT_THAT(PromptTexts(m_View.Prompts()), ElementsAre(PermissionText()));
    EXPECT_EQ(m_pDevice->UpdateRequestCount(), 0U);
}

TEST_F(DeviceChangeFixture, NoticesKeepTheButtonForADeviceThatWillNotOpenUntilItOpens) {
    StartWithDevice();
    // From now on the device is refused; no interface opens, so the mode still reads "ready".
    m_Port.SetOpenError(HidOpenError::PermissionDenied);
    const std::size_t buttons = m_View.Buttons().size();

    // A removal notice while it stays attached leaves the button usable.
    m_pEngine->OnDeviceChange(kDeviceRemoveComplete);
    EXPECT_EQ(m_Hid.DeviceMode(), kDeviceModeReady);
    EXPECT_THAT(Since(m_View.Buttons(), buttons), IsEmpty());
    // So do a tree change and an arrival of it (replugged, still refused); no version is asked.
    m_pEngine->OnDeviceChange(kDeviceNodesChanged);
    m_pEngine->OnDeviceChange(kDeviceArrival);
    EXPECT_THAT(Since(m_View.Buttons(), buttons), ElementsAre(true, true));
    EXPECT_EQ(m_View.VersionTexts().back(), "");
    EXPECT_EQ(m_pDevice->VersionQueryCount(), 1U);

    // The rule is installed and the device replugged: the ordinary arrival.
    m_Port.SetOpenError(HidOpenError::None);
    m_pDevice->Plug();
    m_Notices.HidDevicePlugged();
    DeliverDeviceNotices(m_Notices, *m_pEngine);
    EXPECT_TRUE(WaitUntil([&] { return m_pDevice->VersionQueryCount() == 2; }));

    // Unplugged for good: the button goes.
    m_pDevice->Unplug();
    m_Notices.HidDeviceUnplugged();
    DeliverDeviceNotices(m_Notices, *m_pEngine);
    Settle();
    EXPECT_EQ(m_View.Buttons().back(), false);
    EXPECT_THAT(m_View.Prompts(), IsEmpty());
}

}  // namespace
}  // namespace tarvex::testing
