// The terminal program against an update device that stops taking reports, on the real Windows
// HID connection whose write calls are simulated (a device like that cannot be made under wine,
// which blocks inside WriteFile for the kernel's own time-out). Each write waits its whole
// bound in real time here, so that an interrupt can come while one is waiting.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <future>
#include <sstream>
#include <string>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinHidConnection.h"
#include "sim/SampleImage.h"
#include "tests/platform/windows/SimulatedWrites.h"

namespace tarvex {
namespace {

// A guard against a program that never ends; not a measurement.
constexpr std::chrono::milliseconds kHangGuard{30'000};
constexpr std::size_t kPipeInstances = 8;

// The update device: listed under a pipe's name, so that every open finds an end to read from
// (which never answers), with its writes going to `calls`.
class CStuckDevicePort final : public CHidPort {
public:
    explicit CStuckDevicePort(CSimulatedWrites& calls) : m_Calls(calls) {
        static std::atomic<int> counter{0};
        m_Name = L"\\\\.\\pipe\\tarvex-stuck-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(counter++);
        for (auto& instance : m_Instances) {
            instance = AdoptHandle(
                ::CreateNamedPipeW(m_Name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
        }
    }
    bool Ready() const {
        return std::all_of(std::begin(m_Instances), std::end(m_Instances),
                           [](const UniqueHandle& h) { return static_cast<bool>(h); });
    }
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        return {{WideToUtf8(m_Name), kTargetVendorId, kUpdateDeviceProductId, {}}};
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        return CWinHidConnection::Open(Utf8ToWide(path), m_Calls);
    }

private:
    CSimulatedWrites& m_Calls;
    std::wstring m_Name;
    UniqueHandle m_Instances[kPipeInstances];
};

class CNoUsbDevices final : public CUsbDeviceList {
public:
    std::vector<UsbDeviceInfo> ListUsbDevices() override { return {}; }
};

class WinStuckDeviceCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = std::filesystem::temp_directory_path() /
                   ("tarvex-stuck-" + std::to_string(::GetCurrentProcessId()));
        std::filesystem::create_directories(m_Folder);
        m_Options.ImagePath = m_Folder / "image.dat";
        m_Options.AssumeYes = true;
        ASSERT_TRUE(sim::WriteSampleImage(m_Options.ImagePath, sim::SampleImageSpec{}));
        ASSERT_TRUE(m_Port.Ready());
    }
    void TearDown() override { std::filesystem::remove_all(m_Folder); }

    std::future<int> Start() {
        return std::async(std::launch::async, [this] {
            const CliStreams streams{m_Out, m_Err, -1, false, false};
            return RunCli(m_Options, CliPlatform{m_Port, m_Usb, m_Language}, streams, m_Stop);
        });
    }
    // Every wait the connection made for a write, and for the cancel of one, had its bound.
    void ExpectEveryWaitBounded() const {
        for (const DWORD wait : m_Calls.Waits()) {
            EXPECT_LE(wait, 1000U);
        }
    }

    CSimulatedWrites m_Calls{CSimulatedWrites::Device::NeverTakes, 64, true};
    CStuckDevicePort m_Port{m_Calls};
    CNoUsbDevices m_Usb;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    CliOptions m_Options;
    std::filesystem::path m_Folder;
    std::ostringstream m_Out;
    std::ostringstream m_Err;
    std::atomic<bool> m_Stop{false};
};

TEST_F(WinStuckDeviceCliTest, ADeviceThatTakesNoReportEndsTheRunWithTheFailureText) {
    auto run = Start();
    ASSERT_EQ(run.wait_for(kHangGuard), std::future_status::ready)
        << "the program waited on a write for ever";
    EXPECT_EQ(run.get(), kExitUpdateFailed);
    EXPECT_NE(m_Out.str().find("Firmware update failure"), std::string::npos)
        << "out: " << m_Out.str() << "; err: " << m_Err.str();
    // The version query's report, then the update request; nothing after a failed request.
    EXPECT_EQ(m_Calls.WriteCount(), 2U);
    ExpectEveryWaitBounded();
}

TEST_F(WinStuckDeviceCliTest, AnInterruptWhileAWriteWaitsEndsTheProgramAfterThatWriteAlone) {
    auto run = Start();
    // The second write is the update request, which the device does not take either.
    ASSERT_TRUE(m_Calls.WaitForWrites(2, kHangGuard));
    m_Stop.store(true);
    ASSERT_EQ(run.wait_for(kHangGuard), std::future_status::ready)
        << "the program did not end after the interrupt";
    const int status = run.get();
    EXPECT_TRUE(status == kExitUpdateFailed || status == kExitCancelled) << status;
    EXPECT_EQ(m_Calls.WriteCount(), 2U) << "no report was written after the interrupt";
    // The write in progress and its cancel: at most two bounded waits after the interrupt.
    ExpectEveryWaitBounded();
    EXPECT_LE(m_Calls.Waits().size(), 4U);
}

}  // namespace
}  // namespace tarvex
