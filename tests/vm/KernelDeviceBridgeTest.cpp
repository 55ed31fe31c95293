// The bridge between the virtual update device and a kernel endpoint, over an endpoint kept in
// memory: reports move intact both ways, the device taking itself away pulls the endpoint's
// plug, and a host that takes nothing stalls nothing.

#include "sim/KernelDeviceBridge.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "hid/ReportLayout.h"
#include "tests/update/EngineTestSupport.h"

namespace tarvex::sim {
namespace {

using tarvex::testing::kHangGuard;
using tarvex::testing::WaitUntil;

// The host's side kept in memory: what the host wrote waits in one queue, what the device
// sent lands in another. Can be made to take no input reports at all.
class CMemoryEndpoint final : public CHidDeviceEndpoint {
public:
    void HostWrites(const HidReport& report) {
        std::lock_guard lock(m_Lock);
        m_FromHost.push_back(report);
        m_Changed.notify_all();
    }
    // The next report the device sent, waiting at most the hang guard.
    std::optional<HidReport> HostReads() {
        std::unique_lock lock(m_Lock);
        if (!m_Changed.wait_for(lock, kHangGuard, [&] { return !m_ToHost.empty(); })) {
            return std::nullopt;
        }
        const HidReport report = m_ToHost.front();
        m_ToHost.pop_front();
        return report;
    }
    void RefuseInputReports(bool refuse) {
        std::lock_guard lock(m_Lock);
        m_bRefuseInput = refuse;
    }

    EndpointStatus ReadOutputReport(HidReport& report, std::chrono::milliseconds timeout) override {
        std::unique_lock lock(m_Lock);
        m_Changed.wait_for(lock, timeout, [&] { return !m_FromHost.empty() || !m_bPlugged; });
        if (!m_bPlugged) {
            return EndpointStatus::Gone;
        }
        if (m_FromHost.empty()) {
            return EndpointStatus::TimedOut;
        }
        report = m_FromHost.front();
        m_FromHost.pop_front();
        return EndpointStatus::Ok;
    }
    EndpointStatus WriteInputReport(std::span<const std::uint8_t> report,
                                    std::chrono::milliseconds timeout) override {
        std::unique_lock lock(m_Lock);
        if (!m_bPlugged) {
            return EndpointStatus::Gone;
        }
        if (m_bRefuseInput) {
            m_Changed.wait_for(lock, timeout, [&] { return !m_bPlugged; });
            return m_bPlugged ? EndpointStatus::TimedOut : EndpointStatus::Gone;
        }
        HidReport copy{};
        std::copy(report.begin(), report.end(), copy.begin());
        m_ToHost.push_back(copy);
        m_Changed.notify_all();
        return EndpointStatus::Ok;
    }
    void Unplug() override {
        std::lock_guard lock(m_Lock);
        m_bPlugged = false;
        ++m_Unplugs;
        m_Changed.notify_all();
    }
    bool Plugged() const override {
        std::lock_guard lock(m_Lock);
        return m_bPlugged;
    }
    std::string HostNode() const override { return "memory"; }
    int Unplugs() const {
        std::lock_guard lock(m_Lock);
        return m_Unplugs;
    }

private:
    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<HidReport> m_FromHost;
    std::deque<HidReport> m_ToHost;
    bool m_bPlugged = true;
    bool m_bRefuseInput = false;
    int m_Unplugs = 0;
};

HidReport OutputReport(const ReportBody& body) {
    HidReport report{};
    report[0] = kOutputReportId;
    std::copy(body.begin(), body.end(), report.begin() + 1);
    return report;
}

class KernelDeviceBridgeTest : public ::testing::Test {
protected:
    CVirtualUpdateDevice m_Device;
    CMemoryEndpoint m_Endpoint;
};

TEST_F(KernelDeviceBridgeTest, CarriesAQueryToTheDeviceAndItsReplyBack) {
    CKernelDeviceBridge bridge(m_Device, m_Endpoint);
    bridge.Start();
    const HidReport query = OutputReport(EncodeCommandPacket(kCommandVersionQuery, {}));
    m_Endpoint.HostWrites(query);
    const auto reply = m_Endpoint.HostReads();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ((*reply)[0], kInputReportId);
    const DeviceReply decoded = DecodeDeviceReply(std::span(*reply).subspan(1));
    EXPECT_TRUE(decoded.Marked);
    EXPECT_EQ(decoded.ReplyCode, kReplyCodeVersion);
    EXPECT_EQ(decoded.Version, kVirtualFirmwareVersion);
    // The device saw the report exactly as the host wrote it.
    const auto record = m_Device.Record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.front().Bytes, query);
    EXPECT_EQ(bridge.OutputReportsForwarded(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return bridge.InputReportsForwarded() == 1u; }));
}

TEST_F(KernelDeviceBridgeTest, ADeviceThatDisappearsPullsTheEndpointsPlugOnce) {
    m_Device.SetPacketFault(0, PacketFault::Disappear);
    CKernelDeviceBridge bridge(m_Device, m_Endpoint);
    bridge.Start();
    m_Endpoint.HostWrites(OutputReport(EncodeRequest(kRequestUpdate, 0)));
    ASSERT_TRUE(bridge.WaitUntilUnplugged(kHangGuard));
    EXPECT_FALSE(m_Endpoint.Plugged());
    bridge.Stop();
    EXPECT_EQ(m_Endpoint.Unplugs(), 1);
    EXPECT_EQ(m_Device.UpdateRequestCount(), 1u);
}

TEST_F(KernelDeviceBridgeTest, UnpluggingTheDeviceUnplugsTheEndpoint) {
    CKernelDeviceBridge bridge(m_Device, m_Endpoint);
    bridge.Start();
    m_Device.Unplug();
    ASSERT_TRUE(bridge.WaitUntilUnplugged(kHangGuard));
    EXPECT_FALSE(m_Endpoint.Plugged());
}

TEST_F(KernelDeviceBridgeTest, AHostThatTakesNoInputReportsLosesThemWithoutStallingTheDevice) {
    m_Endpoint.RefuseInputReports(true);
    CKernelDeviceBridge bridge(m_Device, m_Endpoint, std::chrono::milliseconds(100));
    bridge.Start();
    for (int i = 0; i < 3; ++i) {
        m_Endpoint.HostWrites(OutputReport(EncodeCommandPacket(kCommandVersionQuery, {})));
    }
    // Every query still reaches the device although no reply gets out.
    EXPECT_TRUE(WaitUntil([&] { return m_Device.VersionQueryCount() == 3u; }));
    EXPECT_TRUE(WaitUntil([&] { return bridge.InputReportsLost() == 3u; }));
    EXPECT_EQ(bridge.InputReportsForwarded(), 0u);
    bridge.Stop();
    EXPECT_FALSE(bridge.Unplugged());
}

}  // namespace
}  // namespace tarvex::sim
