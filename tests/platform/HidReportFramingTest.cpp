// Report framing: what a read delivered becomes a report with the ID in byte 0, the same way
// for the hidraw backend and the virtual one, and an update still goes through when the device
// sends its reports unnumbered.

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "hid/Hid.h"
#include "hid/ReportSenders.h"
#include "platform/HidReportFraming.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 1, 2, 3, ... `count` bytes.
Bytes Counting(std::size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    return bytes;
}

Bytes Prefixed(std::uint8_t first, const Bytes& rest) {
    Bytes bytes(rest.size() + 1, first);
    std::copy(rest.begin(), rest.end(), bytes.begin() + 1);
    return bytes;
}

TEST(HidReportFraming, PutsTheReportIdInByteZero) {
    struct Case {
        const char* Name;
        Bytes Received;
        bool bNumbered;
        Bytes ExpectedStart;    // the report's first bytes
        std::size_t ZerosFrom;  // every byte from here on is zero
    };
    const std::vector<Case> cases = {
        {"numbered, full", Counting(64), true, Counting(64), 64},
        {"numbered, short", {0x01, 0x00, 0x00, 0x19}, true, {0x01, 0x00, 0x00, 0x19}, 4},
        {"numbered, ID and 64 data bytes", Counting(65), true, Counting(64), 64},
        {"unnumbered, 63 data bytes", Counting(63), false, Prefixed(0, Counting(63)), 64},
        {"unnumbered, 64 data bytes: the last has no room", Counting(64), false,
         Prefixed(0, Counting(63)), 64},
        {"unnumbered, short", {0x05, 0x00, 0x16}, false, {0x00, 0x05, 0x00, 0x16}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const HidReport report = FrameInputReport(c.Received, c.bNumbered);
        ASSERT_LE(c.ExpectedStart.size(), report.size());
        EXPECT_TRUE(std::equal(c.ExpectedStart.begin(), c.ExpectedStart.end(), report.begin()));
        for (std::size_t i = c.ZerosFrom; i < report.size(); ++i) {
            EXPECT_EQ(report[i], 0) << "byte " << i;
        }
    }
}

TEST(HidReportFraming, OutputReportsCarryOneToSixtyFourBytes) {
    EXPECT_EQ(CheckOutputReport(Counting(64)), HidIoStatus::Ok);
    EXPECT_EQ(CheckOutputReport(Counting(1)), HidIoStatus::Ok);
    EXPECT_EQ(CheckOutputReport({}), HidIoStatus::Failed);
    EXPECT_EQ(CheckOutputReport(Counting(65)), HidIoStatus::Failed);
}

// The virtual backend hands the engine what the hidraw backend would for the same device.
class VirtualFramingTest : public ::testing::TestWithParam<bool> {
protected:
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
};

TEST_P(VirtualFramingTest, AgreesWithTheHidrawFraming) {
    const bool numbered = GetParam();
    m_Port.AttachUpdateDevice(m_pDevice);
    m_Port.SetInputReportsNumbered(numbered);
    auto opened = m_Port.OpenHidInterface(sim::kVirtualUpdateDevicePath);
    ASSERT_TRUE(opened.Connection);

    HidReport sent{};
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    sent[0] = sim::kInputReportId;
    m_pDevice->InjectInputReport(sent);

    HidReport read{};
    ASSERT_EQ(opened.Connection->ReadInputReport(read, std::chrono::seconds(5)), HidIoStatus::Ok);
    // What hidraw hands the engine for this report: with a numbered device the report as sent;
    // an unnumbered one sends its 63 data bytes without the ID, and the engine finds them in
    // bytes 1 to 63 behind a zero, where it always reads them.
    HidReport expected = sent;
    if (!numbered) {
        expected[0] = 0x00;
    }
    EXPECT_EQ(read, expected);

    EXPECT_EQ(opened.Connection->WriteOutputReport(Counting(65)), HidIoStatus::Failed);
    for (const auto& recorded : m_pDevice->Record()) {
        EXPECT_NE(recorded.Direction, sim::ReportDirection::ToDevice)
            << "a refused report never reaches the device";
    }
}

INSTANTIATE_TEST_SUITE_P(Numbering, VirtualFramingTest, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Numbered" : "Unnumbered"; });

TEST(HidReportFraming, AnUnnumberedDeviceStillAnswersThroughCHid) {
    auto device = std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    port.AttachUpdateDevice(device);
    port.SetInputReportsNumbered(false);
    CHid hid(port, usb);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(hid.OpenDevice());

    ASSERT_EQ(SendCommand(hid, kSendModeReport, kCommandVersionQuery), HidIoStatus::Ok);
    std::array<std::uint8_t, kHidReportSize> reply{};
    hid.SetReadTimeout(std::chrono::seconds(5));
    ASSERT_EQ(hid.ReadReport(reply), HidIoStatus::Ok);
    const DeviceReply decoded = DecodeDeviceReply(reply);
    EXPECT_TRUE(decoded.Marked);
    EXPECT_EQ(decoded.Opcode, kReplyCommand);
    EXPECT_EQ(decoded.ReplyCode, kReplyCodeVersion);
    EXPECT_EQ(decoded.Version, sim::kVirtualFirmwareVersion);
}

}  // namespace
}  // namespace tarvex
