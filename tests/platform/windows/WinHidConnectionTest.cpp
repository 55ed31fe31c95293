// The Windows HID connection on real handles. Under wine there is no HID device, so the device
// is played by named pipes in message mode, which take and give whole reports and fail like a
// device whose other end went away: the connection opens them by path as it opens an HID
// interface, with the same CreateFileW, overlapped ReadFile, CancelIo and WriteFile.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinHidConnection.h"
#include "platform/windows/WinHidPort.h"
#include "tests/platform/windows/SimulatedWrites.h"

namespace tarvex {
namespace {

// Bound for a call that another thread ends; a guard against hangs, not a measurement.
constexpr std::chrono::milliseconds kHangGuard{20'000};
constexpr std::chrono::milliseconds kShortTimeout{30};

std::wstring UniquePipeName(const std::wstring& stem) {
    static std::atomic<int> counter{0};
    return L"\\\\.\\pipe\\" + stem + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
}

HidReport Filled(std::uint8_t id, std::uint8_t value) {
    HidReport report;
    report.fill(value);
    report[0] = id;
    return report;
}

// The device's end: the first pipe instance takes what the host writes (its write handle is
// opened first), the second gives what the host reads.
class CPipeDevice {
public:
    explicit CPipeDevice(std::wstring name) : m_Name(std::move(name)) {
        for (auto& instance : m_Instances) {
            instance = AdoptHandle(::CreateNamedPipeW(
                m_Name.c_str(), PIPE_ACCESS_DUPLEX,
                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2, 4096, 4096, 0, nullptr));
        }
    }
    bool Ready() const { return m_Instances[0] && m_Instances[1]; }
    const std::wstring& Name() const { return m_Name; }

    std::string ReadOutputReport() {
        std::string report(256, '\0');
        DWORD count = 0;
        if (!::ReadFile(m_Instances[0].get(), report.data(), static_cast<DWORD>(report.size()),
                        &count, nullptr)) {
            return {};
        }
        report.resize(count);
        return report;
    }
    bool SendInputReport(const std::string& report) {
        DWORD count = 0;
        return ::WriteFile(m_Instances[1].get(), report.data(), static_cast<DWORD>(report.size()),
                           &count, nullptr) &&
               count == report.size();
    }
    // As pulling the plug: both ends go away under the open connection.
    void Unplug() {
        for (auto& instance : m_Instances) {
            ::DisconnectNamedPipe(instance.get());
            instance.reset();
        }
    }

private:
    std::wstring m_Name;
    UniqueHandle m_Instances[2];
};

class WinHidConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_Device.Ready());
        HidOpenResult opened = CWinHidConnection::Open(m_Device.Name());
        ASSERT_TRUE(opened.Connection) << static_cast<int>(opened.Error);
        m_pConnection = std::move(opened.Connection);
    }

    CPipeDevice m_Device{UniquePipeName(L"tarvex-hid")};
    std::unique_ptr<CHidConnection> m_pConnection;
};

TEST_F(WinHidConnectionTest, ReportsTravelBothWaysWithTheirReportId) {
    const HidReport sent = Filled(0x81, 0x5A);
    ASSERT_EQ(m_pConnection->WriteOutputReport(sent), HidIoStatus::Ok);
    EXPECT_EQ(m_Device.ReadOutputReport(), std::string(sent.begin(), sent.end()))
        << "one write, the whole 64-byte report";

    const std::string input = "\x81\x14\x01\x02";
    ASSERT_TRUE(m_Device.SendInputReport(input));
    HidReport received = Filled(0xEE, 0xEE);
    ASSERT_EQ(m_pConnection->ReadInputReport(received, kHangGuard), HidIoStatus::Ok);
    EXPECT_EQ(std::string(received.begin(), received.begin() + 4), input);
    EXPECT_TRUE(std::all_of(received.begin() + 4, received.end(), [](auto b) { return b == 0; }))
        << "bytes the device did not send are zero";
}

TEST_F(WinHidConnectionTest, ATimedOutReadIsCancelledAndWritesNothingAfterwards) {
    HidReport report = Filled(0xEE, 0xEE);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_pConnection->ReadInputReport(report, kShortTimeout), HidIoStatus::TimedOut);
    }
    EXPECT_EQ(report, Filled(0xEE, 0xEE)) << "a read that timed out hands on nothing";

    // The report that comes now belongs to the next read: none of the cancelled reads may still
    // be waiting to swallow it.
    const std::string late = "\x81\x19\x07";
    ASSERT_TRUE(m_Device.SendInputReport(late));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(report, Filled(0xEE, 0xEE)) << "nor does it write into the buffer later";
    ASSERT_EQ(m_pConnection->ReadInputReport(report, kHangGuard), HidIoStatus::Ok);
    EXPECT_EQ(std::string(report.begin(), report.begin() + 3), late);
}

TEST_F(WinHidConnectionTest, AReadWaitsWhileTheOtherThreadWrites) {
    auto reading = std::async(std::launch::async, [&] {
        HidReport report{};
        const HidIoStatus status = m_pConnection->ReadInputReport(report, kHangGuard);
        return std::make_pair(status, report[1]);
    });
    for (std::uint8_t i = 1; i <= 3; ++i) {
        ASSERT_EQ(m_pConnection->WriteOutputReport(Filled(0x81, i)), HidIoStatus::Ok);
        EXPECT_EQ(m_Device.ReadOutputReport().at(1), static_cast<char>(i));
    }
    ASSERT_TRUE(m_Device.SendInputReport("\x81\x14"));
    const auto [status, code] = reading.get();
    EXPECT_EQ(status, HidIoStatus::Ok);
    EXPECT_EQ(code, 0x14);
}

TEST_F(WinHidConnectionTest, ADeviceThatDisappearsFailsTheWaitingReadAndEveryCallAfter) {
    auto reading = std::async(std::launch::async, [&] {
        HidReport report{};
        return m_pConnection->ReadInputReport(report, kHangGuard);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m_Device.Unplug();
    ASSERT_EQ(reading.wait_for(kHangGuard), std::future_status::ready)
        << "the waiting read ends when the device goes";
    EXPECT_EQ(reading.get(), HidIoStatus::DeviceGone);

    HidReport report{};
    EXPECT_EQ(m_pConnection->ReadInputReport(report, kHangGuard), HidIoStatus::DeviceGone);
    EXPECT_EQ(m_pConnection->WriteOutputReport(Filled(0x81, 1)), HidIoStatus::DeviceGone);
}

// A connection whose kernel calls go to `calls` (its handles are a pipe's that nobody uses).
struct SimulatedConnection {
    explicit SimulatedConnection(CWinHidCalls& calls) {
        HidOpenResult opened = CWinHidConnection::Open(Device.Name(), calls);
        Connection = std::move(opened.Connection);
    }
    CPipeDevice Device{UniquePipeName(L"tarvex-sim")};
    std::unique_ptr<CHidConnection> Connection;
};

TEST(WinHidWrite, AWriteTheSystemCompletesIsWholeWhateverCountItGives) {
    struct Case {
        DWORD Count;
        HidIoStatus Expected;
    };
    // 64: Windows counts the report ID; 63: wine does not. Anything else is not a report sent.
    const Case cases[] = {{64, HidIoStatus::Ok},
                          {63, HidIoStatus::Ok},
                          {0, HidIoStatus::Failed},
                          {32, HidIoStatus::Failed}};
    for (const auto& c : cases) {
        CSimulatedWrites calls(CSimulatedWrites::Device::Takes, c.Count);
        SimulatedConnection simulated(calls);
        ASSERT_TRUE(simulated.Connection);
        EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 7)), c.Expected)
            << c.Count << " bytes reported written";
        const HidReport sent = Filled(0x81, 7);
        EXPECT_EQ(calls.Written(), std::vector<std::uint8_t>(sent.begin(), sent.end()));
        EXPECT_TRUE(calls.Overlapped()) << "a write is never left without a time limit";
    }
}

TEST(WinHidWrite, AReportTheDeviceNeverTakesFailsWithinTheBoundAndIsCancelledFirst) {
    CSimulatedWrites calls(CSimulatedWrites::Device::NeverTakes);
    SimulatedConnection simulated(calls);
    ASSERT_TRUE(simulated.Connection);
    EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 1)), HidIoStatus::Failed);
    const auto waits = calls.Waits();
    ASSERT_FALSE(waits.empty());
    EXPECT_LE(waits.front(), 1000U) << "about a second for a report, never INFINITE";
    EXPECT_TRUE(calls.CancelledThePendingWrite());
    // The call returns only after the cancel took: the bytes are the system's until then.
    const auto steps = calls.Steps();
    const auto cancel = std::find(steps.begin(), steps.end(), "cancel");
    ASSERT_NE(cancel, steps.end());
    EXPECT_NE(std::find(cancel, steps.end(), "wait"), steps.end());
    EXPECT_TRUE(calls.BytesIntactAtEnd());

    // A timed-out write leaves the connection usable: the next report is written again.
    EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 2)), HidIoStatus::Failed);
    EXPECT_EQ(calls.Written().at(1), 2);
}

TEST(WinHidWrite, TheCancelOfAWriteIsWaitedForAndAReportSentMeanwhileCounts) {
    struct Case {
        CSimulatedWrites::Device Device;
        HidIoStatus Expected;
    };
    const Case cases[] = {{CSimulatedWrites::Device::CancelIsLate, HidIoStatus::Failed},
                          {CSimulatedWrites::Device::TakesAsCancelled, HidIoStatus::Ok}};
    for (const auto& c : cases) {
        CSimulatedWrites calls(c.Device);
        SimulatedConnection simulated(calls);
        ASSERT_TRUE(simulated.Connection);
        EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 1)), c.Expected);
        EXPECT_EQ(calls.Steps(),
                  (std::vector<std::string>{"write", "wait", "cancel", "wait", "result"}));
        EXPECT_TRUE(calls.BytesIntactAtEnd());
        for (const DWORD wait : calls.Waits()) {
            EXPECT_LE(wait, 1000U);
        }
    }
}

TEST(WinHidWrite, ACancelThatNeverTakesLeavesTheBufferAloneAndFailsLaterWritesAtOnce) {
    CSimulatedWrites calls(CSimulatedWrites::Device::IgnoresCancel);
    SimulatedConnection simulated(calls);
    ASSERT_TRUE(simulated.Connection);
    EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 1)), HidIoStatus::Failed);
    EXPECT_EQ(calls.Steps(), (std::vector<std::string>{"write", "wait", "cancel", "wait"}));
    for (const DWORD wait : calls.Waits()) {
        EXPECT_LE(wait, 1000U) << "also the wait for the cancel is bounded";
    }
    EXPECT_EQ(simulated.Connection->WriteOutputReport(Filled(0x81, 2)), HidIoStatus::Failed);
    EXPECT_EQ(calls.Steps().size(), 4U) << "the buffer the system may still read is not reused";
    EXPECT_EQ(calls.Written().at(1), 1);
}

// A device behind simulated read calls, in simulated time: a wait for a read that has not
// completed returns at once as timed out. A wait for a result (GetOverlappedResult asked to
// wait) on a read that never completes would block for ever; it is recorded and cut short.
class CSimulatedReads final : public CWinHidCalls {
public:
    enum class Device {
        CancelTakes,       // the read stays pending until cancelled
        SendsAsCancelled,  // a report arrives just before the cancel takes
        CancelIsLate,      // the cancel takes only during the next wait
        IgnoresCancel,     // neither the read nor its cancel ever completes
    };
    static constexpr std::uint8_t kReport[] = {0x81, 0x14, 0x02};

    explicit CSimulatedReads(Device device) : m_Device(device) {}

    BOOL ReadFile(HANDLE, void* data, DWORD size, OVERLAPPED* pending) override {
        m_Steps.push_back("read");
        m_pBuffer = static_cast<std::uint8_t*>(data);
        m_Size = size;
        m_pPending = pending;
        m_bDone = false;
        m_LastError = ERROR_IO_PENDING;
        return FALSE;
    }
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override {
        m_Steps.push_back("wait");
        m_Waits.push_back(milliseconds);
        if (m_bCancelAsked && !m_bDone && m_Device == Device::CancelIsLate) {
            Complete(ERROR_OPERATION_ABORTED, 0);
        }
        return m_pPending != nullptr && event == m_pPending->hEvent && m_bDone ? WAIT_OBJECT_0
                                                                               : WAIT_TIMEOUT;
    }
    BOOL CancelIoEx(HANDLE, OVERLAPPED* pending) override {
        m_Steps.push_back("cancel");
        m_bCancelAsked = pending == m_pPending;
        if (m_Device == Device::CancelTakes) {
            Complete(ERROR_OPERATION_ABORTED, 0);
        } else if (m_Device == Device::SendsAsCancelled) {
            std::copy(std::begin(kReport), std::end(kReport), m_pBuffer);
            Complete(ERROR_SUCCESS, sizeof kReport);
        }
        return TRUE;
    }
    BOOL GetOverlappedResult(HANDLE, OVERLAPPED* pending, DWORD* count, BOOL wait) override {
        m_Steps.push_back(wait ? "result, waiting without a bound" : "result");
        if (pending != m_pPending || !m_bDone) {
            m_LastError = ERROR_IO_INCOMPLETE;
            return FALSE;
        }
        *count = m_Count;
        m_LastError = m_Result;
        return m_Result == ERROR_SUCCESS;
    }
    DWORD GetLastError() override { return m_LastError; }

    const std::vector<std::string>& Steps() const { return m_Steps; }
    const std::vector<DWORD>& Waits() const { return m_Waits; }

private:
    void Complete(DWORD result, DWORD count) {
        m_bDone = true;
        m_Result = result;
        m_Count = count;
    }

    const Device m_Device;
    std::vector<std::string> m_Steps;
    std::vector<DWORD> m_Waits;
    std::uint8_t* m_pBuffer = nullptr;
    DWORD m_Size = 0;
    OVERLAPPED* m_pPending = nullptr;
    bool m_bDone = false;
    bool m_bCancelAsked = false;
    DWORD m_Result = ERROR_SUCCESS;
    DWORD m_Count = 0;
    DWORD m_LastError = ERROR_SUCCESS;
};

TEST(WinHidRead, ACancelledReadIsWaitedForWithinABoundAndAReportMeanwhileCounts) {
    struct Case {
        CSimulatedReads::Device Device;
        HidIoStatus Expected;
    };
    const Case cases[] = {{CSimulatedReads::Device::CancelTakes, HidIoStatus::TimedOut},
                          {CSimulatedReads::Device::CancelIsLate, HidIoStatus::TimedOut},
                          {CSimulatedReads::Device::SendsAsCancelled, HidIoStatus::Ok}};
    for (const auto& c : cases) {
        CSimulatedReads calls(c.Device);
        SimulatedConnection simulated(calls);
        ASSERT_TRUE(simulated.Connection);
        HidReport report = Filled(0xEE, 0xEE);
        EXPECT_EQ(simulated.Connection->ReadInputReport(report, kShortTimeout), c.Expected);
        EXPECT_EQ(calls.Steps(),
                  (std::vector<std::string>{"read", "wait", "cancel", "wait", "result"}));
        ASSERT_EQ(calls.Waits().size(), 2U);
        EXPECT_EQ(calls.Waits().front(), static_cast<DWORD>(kShortTimeout.count()));
        EXPECT_LE(calls.Waits().back(), 1000U) << "the wait for the cancel is bounded";
        if (c.Expected == HidIoStatus::Ok) {
            EXPECT_EQ(report[1], 0x14) << "the report that came with the cancel is delivered";
        } else {
            EXPECT_EQ(report, Filled(0xEE, 0xEE));
        }
    }
}

TEST(WinHidRead, ACancelThatNeverTakesEndsTheReadAndFailsLaterReadsAtOnce) {
    CSimulatedReads calls(CSimulatedReads::Device::IgnoresCancel);
    SimulatedConnection simulated(calls);
    ASSERT_TRUE(simulated.Connection);
    HidReport report = Filled(0xEE, 0xEE);
    EXPECT_EQ(simulated.Connection->ReadInputReport(report, kShortTimeout), HidIoStatus::Failed);
    EXPECT_EQ(calls.Steps(), (std::vector<std::string>{"read", "wait", "cancel", "wait"}));
    for (const DWORD wait : calls.Waits()) {
        EXPECT_LE(wait, 1000U);
    }
    // The buffer and the record may still be written by the system: no read may use them again.
    EXPECT_EQ(simulated.Connection->ReadInputReport(report, kShortTimeout), HidIoStatus::Failed);
    EXPECT_EQ(calls.Steps().size(), 4U);
    EXPECT_EQ(report, Filled(0xEE, 0xEE));
}

TEST(WinHidPort, OpensAWidePathByTheUtf8NameItListsItUnder) {
    // 固件 in the name: the path goes through the engine as UTF-8 and must come back the same.
    CPipeDevice device(UniquePipeName(std::wstring(L"tarvex-\x56FA\x4EF6-hid")));
    ASSERT_TRUE(device.Ready());
    CWinHidPort port;
    const HidOpenResult opened = port.OpenHidInterface(WideToUtf8(device.Name()));
    ASSERT_TRUE(opened.Connection) << static_cast<int>(opened.Error);
    ASSERT_EQ(opened.Connection->WriteOutputReport(Filled(0x81, 3)), HidIoStatus::Ok);
    EXPECT_EQ(device.ReadOutputReport().size(), kHidReportSize);
}

TEST(WinHidPort, AnAbsentInterfaceIsNotFoundAndTheListingEnds) {
    CWinHidPort port;
    EXPECT_EQ(port.OpenHidInterface(WideToUtf8(UniquePipeName(L"tarvex-absent"))).Error,
              HidOpenError::NotFound);
    // Wine shows no HID device of its own; whatever a machine has, each entry can be opened by
    // the path it is listed under, or is refused with a reason.
    for (const auto& entry : port.ListHidInterfaces()) {
        EXPECT_EQ(WideToUtf8(Utf8ToWide(entry.Path)), entry.Path);
    }
}

}  // namespace
}  // namespace tarvex
