// The engine and the Linux backends (hidapi's hidraw backend, libudev's device list and
// monitor) against devices made by this machine's kernel: uhid devices and USB gadgets on
// dummy_hcd. They run in the test guest (tests/vm/run-vm-tests.sh); elsewhere they skip.

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "hid/ReportLayout.h"
#include "platform/SystemServices.h"
#include "platform/linux/UdevDeviceMonitor.h"
#include "sim/SampleImage.h"
#include "tests/update/EngineTestSupport.h"
#include "tests/vm/KernelUpdateDevice.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex::testing {
namespace {

constexpr auto kNoticeSlice = std::chrono::milliseconds(50);
// How long a read waits for a report that must not come.
constexpr auto kQuietRead = std::chrono::milliseconds(300);

// The version query as one whole output report, report ID first.
HidReport VersionQueryReport() {
    const ReportBody body = EncodeCommandPacket(kCommandVersionQuery, {});
    HidReport report{};
    report[0] = kOutputReportId;
    std::copy(body.begin(), body.end(), report.begin() + 1);
    return report;
}

// The program's own services, as the terminal program and the window get them, with the engine
// over them and a window that records what it is shown.
class RealStackTest : public ::testing::TestWithParam<KernelTransport> {
protected:
    void SetUp() override {
        const std::string unavailable = KernelDevicesUnavailable(GetParam());
        if (!unavailable.empty()) {
            GTEST_SKIP() << unavailable;
        }
        m_Folder = std::filesystem::temp_directory_path() /
                   ("tarvex-realstack-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_Folder);
        m_System = CreateSystemServices();
        m_pHid = std::make_unique<CHid>(*m_System.HidPort, *m_System.UsbDevices,
                                        m_System.DeviceNotices.get());
        m_pEngine = std::make_unique<CUpdateEngine>(*m_pHid, m_View, m_Language);
    }

    void TearDown() override {
        m_pEngine.reset();
        m_Device.Unplug();
        std::filesystem::remove_all(m_Folder);
    }

    // Hands every notice to the engine, as the window's event loop does (waiting on the
    // monitor's descriptor), until `done` holds; false if it never did within the hang guard.
    bool DeliverNoticesUntil(const std::function<bool()>& done) {
        const int fd = m_System.DeviceNotices->NoticeFd();
        if (fd < 0) {
            ADD_FAILURE() << "the monitor has no descriptor";
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(kNoticeSlice.count())) <= 0) {
                continue;
            }
            for (const std::uint32_t notice : m_System.DeviceNotices->TakeNotices()) {
                m_Notices.insert(notice);
                m_pEngine->OnDeviceChange(notice);
            }
        }
        return true;
    }

    bool LastButton(bool enabled) const {
        const auto buttons = m_View.Buttons();
        return !buttons.empty() && buttons.back() == enabled;
    }

    std::string LastVersionText() const {
        const auto texts = m_View.VersionTexts();
        return texts.empty() ? std::string("(none)") : texts.back();
    }

    std::filesystem::path UseImage(const sim::SampleImageSpec& spec) {
        const auto path = m_Folder / "image.dat";
        EXPECT_TRUE(sim::WriteSampleImage(path, spec));
        m_View.ImageAnswer = path;
        return path;
    }

    std::filesystem::path m_Folder;
    CKernelUpdateDevice m_Device{GetParam()};
    SystemServices m_System;
    std::unique_ptr<CHid> m_pHid;
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine;
    std::set<std::uint32_t> m_Notices;
};

// Plugging the device enables the button and shows the version the device reports to the
// query that its arrival started; unplugging disables the button and clears the text.
TEST_P(RealStackTest, ArrivalAndRemovalDriveTheButtonAndTheVersionText) {
    // A USB device, unlike a uhid one, also changes the USB device tree when it comes and goes.
    const bool usb = GetParam() == KernelTransport::Gadget;
    const auto noticed = [&](std::uint32_t notice) { return m_Notices.contains(notice); };
    m_pEngine->Initialise();
    EXPECT_TRUE(LastButton(false));

    ASSERT_TRUE(m_Device.Plug()) << m_Device.Error();
    // The notices come in their own time (udevd's or the kernel's); the engine must end up
    // right once all of them were handled.
    EXPECT_TRUE(DeliverNoticesUntil([&] {
        return noticed(kDeviceArrival) && (!usb || noticed(kDeviceNodesChanged)) &&
               LastButton(true) && LastVersionText() == "V1.05";
    })) << "arrival "
        << noticed(kDeviceArrival) << ", tree " << noticed(kDeviceNodesChanged) << ", button "
        << LastButton(true) << ", version text '" << LastVersionText() << "'";
    EXPECT_GE(m_Device.Device().VersionQueryCount(), 1u);
    EXPECT_EQ(m_pHid->DevicePath(), m_Device.HostNode());

    m_Notices.clear();
    m_Device.Unplug();
    EXPECT_TRUE(DeliverNoticesUntil([&] {
        return noticed(kDeviceRemoveComplete) && (!usb || noticed(kDeviceNodesChanged)) &&
               LastButton(false) && LastVersionText().empty();
    })) << "removal "
        << noticed(kDeviceRemoveComplete) << ", tree " << noticed(kDeviceNodesChanged)
        << ", button " << LastButton(false) << ", version text '" << LastVersionText() << "'";
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
}

// Unplugged in the middle of the transfer (at data packet 28), the device's read fails as gone
// rather than timing out: the run ends with the failure text and no worker is left reading.
TEST_P(RealStackTest, UnplugDuringTheTransferEndsTheRunWithTheFailureText) {
    UseImage(sim::SampleImageSpec{});
    m_Device.Device().SetPacketFault(30, sim::PacketFault::Disappear);
    ASSERT_TRUE(m_Device.Plug()) << m_Device.Error();
    m_pEngine->Initialise();
    ASSERT_TRUE(m_View.WaitForVersionText("V1.05"));
    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    // When the plug was pulled, for the log only: durations are reported, never checked.
    std::chrono::steady_clock::time_point unplugged;
    std::thread watcher([&] {
        m_Device.Bridge()->WaitUntilUnplugged(kHangGuard);
        unplugged = std::chrono::steady_clock::now();
    });

    const auto outcome = m_View.WaitForRunEnd();
    const auto ended = std::chrono::steady_clock::now();
    watcher.join();
    ASSERT_TRUE(outcome.has_value()) << "the run did not end";
    std::cout << "the run ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(ended - unplugged).count()
              << " ms after the device went away\n";
    EXPECT_EQ(*outcome, UpdateOutcome::Failed);
    const auto prompts = m_View.Prompts();
    ASSERT_FALSE(prompts.empty());
    EXPECT_EQ(prompts.back().Text, LoadLocalizedString(kTextFailure, kLanguageEnglishUs));
    EXPECT_EQ(m_Device.Device().DataPacketCount(), 29u);
    EXPECT_TRUE(WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; }));
}

// hidraw gives every open file its own queue of input reports: two handles that both read see
// one reply twice, and a handle opened after a reply came never sees it, while the handle that
// was open still holds it. The virtual device has one queue for all connections and hides both.
TEST_P(RealStackTest, EveryOpenHandleHasItsOwnCopyOfEachReply) {
    ASSERT_TRUE(m_Device.Plug()) << m_Device.Error();
    auto first = m_System.HidPort->OpenHidInterface(m_Device.HostNode());
    auto second = m_System.HidPort->OpenHidInterface(m_Device.HostNode());
    ASSERT_TRUE(first.Connection && second.Connection);

    ASSERT_EQ(first.Connection->WriteOutputReport(VersionQueryReport()), HidIoStatus::Ok);
    // Read through the second handle: once it has the reply, the host has it, and so has every
    // handle that was open then.
    HidReport reply{};
    ASSERT_EQ(second.Connection->ReadInputReport(reply, kHangGuard), HidIoStatus::Ok);
    EXPECT_EQ(DecodeDeviceReply(std::span(reply).subspan(1)).ReplyCode, kReplyCodeVersion);

    auto late = m_System.HidPort->OpenHidInterface(m_Device.HostNode());
    ASSERT_TRUE(late.Connection);
    HidReport copy{};
    EXPECT_EQ(late.Connection->ReadInputReport(copy, kQuietRead), HidIoStatus::TimedOut);
    ASSERT_EQ(first.Connection->ReadInputReport(copy, kHangGuard), HidIoStatus::Ok);
    EXPECT_EQ(copy, reply);
}

// The update button pressed while the version query still waits for its answer: the run opens
// a fresh handle while the query's loop reads on the old one, so for a while both hold each
// reply. Each reply must still be handled once: one file dialog, one header, a whole payload.
TEST_P(RealStackTest, UpdatePressedWhileTheVersionQueryWaitsHandlesEachReplyOnce) {
    const auto image = UseImage(sim::SampleImageSpec{});
    auto& device = m_Device.Device();
    device.SetSilent(true);  // the version query goes unanswered
    ASSERT_TRUE(m_Device.Plug()) << m_Device.Error();
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return device.VersionQueryCount() >= 1; }));
    device.SetSilent(false);  // and everything after it is answered at once

    ASSERT_TRUE(m_pEngine->OnUsbUpdate());
    const auto outcome = m_View.WaitForRunEnd();
    ASSERT_TRUE(outcome.has_value()) << "the run did not end";
    EXPECT_EQ(*outcome, UpdateOutcome::Succeeded);
    EXPECT_EQ(m_View.Filters().size(), 1u) << "file dialogs shown";
    EXPECT_EQ(device.UpdateRequestCount(), 1u);
    EXPECT_EQ(device.ReceivedPayload(), sim::SamplePayload(sim::SampleImageSpec{}));
}

// The monitor hears a plug whichever source its notices come from, and ends up believing the
// one that delivers here: udevd's re-broadcasts when udevd runs (they come after its rules gave
// the node its permissions), else the kernel's own events.
TEST(RealMonitorTest, HearsThePlugAndBelievesTheSourceThatDelivers) {
    const std::string unavailable = KernelDevicesUnavailable(KernelTransport::Uhid);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    const SystemServices system = CreateSystemServices();
    auto* monitor = dynamic_cast<CUdevDeviceMonitor*>(system.DeviceNotices.get());
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(monitor->Listening());
    ASSERT_TRUE(monitor->RegisterHidNotices());
    const bool udevdRuns = std::filesystem::exists(kUdevdControlSocket);
    std::cout << "udevd " << (udevdRuns ? "runs" : "does not run") << '\n';

    CKernelUpdateDevice device(KernelTransport::Uhid);
    ASSERT_TRUE(device.Plug()) << device.Error();
    int arrivals = 0;
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (arrivals == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{monitor->NoticeFd(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(kNoticeSlice.count())) > 0) {
            const auto notices = monitor->TakeNotices();
            arrivals +=
                static_cast<int>(std::count(notices.begin(), notices.end(), kDeviceArrival));
        }
    }
    EXPECT_EQ(arrivals, 1);
    EXPECT_EQ(monitor->Source(), udevdRuns ? UeventSource::Udevd : UeventSource::Kernel)
        << ToString(monitor->Source());
}

INSTANTIATE_TEST_SUITE_P(Transports, RealStackTest,
                         ::testing::Values(KernelTransport::Uhid, KernelTransport::Gadget),
                         [](const auto& paramInfo) {
                             return std::string(ToString(paramInfo.param));
                         });

}  // namespace
}  // namespace tarvex::testing
