// Byte layouts of the packets the tool sends, checked whole report by whole report through CHid,
// so that the report ID, the length byte and the zero padding are covered too.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "hid/ReportSenders.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

using ::testing::ElementsAreArray;

HidReport Report(std::initializer_list<std::uint8_t> head) {
    HidReport report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

// A HID port whose update device records what the tool writes.
struct SenderFixture : ::testing::Test {
    void SetUp() override {
        device = std::make_shared<sim::CVirtualUpdateDevice>();
        port.AttachUpdateDevice(device);
        ASSERT_TRUE(hid.DetectDevice());
        ASSERT_TRUE(hid.OpenDevice());
    }
    std::vector<HidReport> Sent() const {
        std::vector<HidReport> sent;
        for (const auto& r : device->Record()) {
            if (r.Direction == sim::ReportDirection::ToDevice) {
                sent.push_back(r.Bytes);
            }
        }
        return sent;
    }
    std::shared_ptr<sim::CVirtualUpdateDevice> device;
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    CHid hid{port, usb};
};

TEST_F(SenderFixture, RequestsAndCommandsWithoutPayload) {
    struct Case {
        std::function<HidIoStatus()> send;
        HidReport expected;
    };
    const std::vector<Case> cases = {
        {[&] { return SendRequest(hid, kRequestUpdate, 0); }, Report({0x81, 5, 0, 0x1A, 1, 0, 0})},
        {[&] { return SendRequest(hid, kRequestPoll, 0); }, Report({0x81, 5, 0, 0x1D, 1, 0, 0})},
        {[&] { return SendCommand(hid, kSendModeReport, kCommandVersionQuery); },
         Report({0x81, 5, 0, 0x16, 1, 0, 4})},
        {[&] { return SendCommand(hid, kSendModeReport, kCommandFinish); },
         Report({0x81, 5, 0, 0x16, 1, 0, 2})},
        {[&] { return SendDataPacket(hid, kSendModeReport, {}); },
         Report({0x81, 5, 0, 0x16, 1, 0, 0})},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.send(), HidIoStatus::Ok);
    }
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_THAT(sent[i], ElementsAreArray(cases[i].expected)) << "case " << i;
    }
}

TEST_F(SenderFixture, ImageHeaderGoesOutWithItsFirstFourWordsBigEndian) {
    std::array<std::uint8_t, kImageHeaderSize> header{};
    std::iota(header.begin(), header.end(), std::uint8_t{0x40});
    header[0] = 0x73;  // Version 115
    header[1] = 0x00;
    header[2] = 0x02;  // Beta 2
    header[3] = 0x00;
    ASSERT_EQ(SendImageHeader(hid, kSendModeReport, header), HidIoStatus::Ok);

    HidReport expected = Report({0x81, 0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00});
    const std::array<std::uint8_t, 16> reversedWords = {
        0x00,       0x02,       0x00,       0x73,       header[7], header[6],
        header[5],  header[4],  header[11], header[10], header[9], header[8],
        header[15], header[14], header[13], header[12]};
    std::copy(reversedWords.begin(), reversedWords.end(), expected.begin() + 9);
    std::copy(header.begin() + 16, header.end(), expected.begin() + 25);
    ASSERT_EQ(Sent().size(), 1U);
    EXPECT_THAT(Sent()[0], ElementsAreArray(expected));
}

TEST_F(SenderFixture, DataPacketsOfEachLength) {
    std::vector<std::uint8_t> chunk(40);
    std::iota(chunk.begin(), chunk.end(), std::uint8_t{1});

    // Full chunk: one report, 81 27 00 16 23 00 00 20 00 then 32 bytes.
    ASSERT_EQ(SendDataPacket(hid, kSendModeReport, std::span(chunk).first(32)), HidIoStatus::Ok);
    // Final chunk of 5 bytes: 81, n + 7, 00, 16, n + 3, 00, 00, n, 00.
    ASSERT_EQ(SendDataPacket(hid, kSendModeReport, std::span(chunk).first(5)), HidIoStatus::Ok);
    // 40 bytes: two reports, the second continuing the packet with only its length byte.
    ASSERT_EQ(SendDataPacket(hid, kSendModeReport, chunk), HidIoStatus::Ok);

    HidReport full = Report({0x81, 0x27, 0, 0x16, 0x23, 0, 0, 0x20, 0});
    std::copy(chunk.begin(), chunk.begin() + 32, full.begin() + 9);
    HidReport shortChunk = Report({0x81, 12, 0, 0x16, 8, 0, 0, 5, 0, 1, 2, 3, 4, 5});
    // The 47-byte packet splits after 39 packet bytes: 7 header bytes and 32 data bytes first.
    HidReport firstPiece = Report({0x81, 0x27, 0, 0x16, 0x2B, 0, 0, 0x28, 0});
    std::copy(chunk.begin(), chunk.begin() + 32, firstPiece.begin() + 9);
    HidReport secondPiece = Report({0x81, 0x08});
    std::copy(chunk.begin() + 32, chunk.end(), secondPiece.begin() + 2);

    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4U);
    EXPECT_THAT(sent[0], ElementsAreArray(full));
    EXPECT_THAT(sent[1], ElementsAreArray(shortChunk));
    EXPECT_THAT(sent[2], ElementsAreArray(firstPiece));
    EXPECT_THAT(sent[3], ElementsAreArray(secondPiece));
}

TEST_F(SenderFixture, UnsupportedRoutesAndOversizedCommandsSendNothing) {
    const std::vector<std::uint8_t> big(kMaxCommandPayload + 1, 0xAA);
    EXPECT_EQ(SendCommand(hid, kSendModeBlock, kCommandFinish), HidIoStatus::Failed);
    EXPECT_EQ(SendCommand(hid, 0x00, kCommandFinish), HidIoStatus::Failed);
    EXPECT_EQ(SendCommand(hid, kSendModeReport, kCommandImageHeader, big), HidIoStatus::Failed);
    EXPECT_TRUE(Sent().empty());
}

TEST(DeviceReplyTest, DecodesTheFieldsTheEngineReads) {
    struct Case {
        HidReport report;
        bool marked;
        std::uint8_t opcode;
        std::uint8_t replyCode;
        std::uint32_t version;
    };
    const std::vector<Case> cases = {
        {Report({0x01, 9, 0, 0x16, 6, 0, 0x04, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF}), true, 0x16, 0x04,
         0xFFFFFFFF},
        {Report({0x01, 9, 0, 0x16, 6, 0, 0x04, 4, 0, 0x02, 0x01, 0x00, 0x00}), true, 0x16, 0x04,
         0x102},
        {Report({0x01, 5, 1, 0x19}), false, 0x19, 0, 0},
        {Report({0x01, 5, 0, 0x14, 1, 0, 0x32}), true, 0x14, 0x32, 0},
    };
    for (const auto& c : cases) {
        const DeviceReply reply = DecodeDeviceReply(std::span(c.report).subspan(1));
        EXPECT_EQ(reply.Marked, c.marked);
        EXPECT_EQ(reply.Opcode, c.opcode);
        EXPECT_EQ(reply.ReplyCode, c.replyCode);
        EXPECT_EQ(reply.Version, c.version);
    }
}

}  // namespace
}  // namespace tarvex
