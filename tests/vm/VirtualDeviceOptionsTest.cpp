// tarvex-virtual-device's command line: transports, IDs, faults and files.

#include "sim/VirtualDeviceOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvex::sim {
namespace {

using ::testing::HasSubstr;

VirtualDeviceParseResult Parse(std::vector<std::string_view> arguments) {
    return ParseVirtualDeviceArguments(arguments);
}

TEST(VirtualDeviceOptionsTest, RefusesWhatItCannotUse) {
    struct Case {
        std::vector<std::string_view> Arguments;
        std::string ErrorPart;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--vendor=0x1FFFF"}, "bad value"},
        {{"--product=abc"}, "bad value"},
        {{"--latency=-1"}, "bad value"},
        {{"--lifetime=0"}, "bad value"},
        {{"--fail-at=x"}, "bad value"},
        {{"--fail-at=3:0x100"}, "bad value"},
        {{"--silence-at=3:0x15"}, "bad value"},
        {{"--drive="}, "--drive needs the backing image"},
        {{"--serial="}, "unknown option"},
    };
    for (const auto& c : cases) {
        const auto parsed = Parse(c.Arguments);
        EXPECT_FALSE(parsed.Options.has_value()) << c.Arguments[0];
        EXPECT_THAT(parsed.Error, HasSubstr(c.ErrorPart)) << c.Arguments[0];
    }
}

TEST(VirtualDeviceOptionsTest, DefaultsToTheUpdateDeviceOverUhid) {
    const auto parsed = Parse({});
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Transport, DeviceTransport::Uhid);
    EXPECT_EQ(parsed.Options->VendorId, kTargetVendorId);
    EXPECT_EQ(parsed.Options->ProductId, kUpdateDeviceProductId);
    EXPECT_EQ(parsed.Options->FirmwareVersion, kVirtualFirmwareVersion);
    EXPECT_TRUE(parsed.Options->Faults.empty());
}

TEST(VirtualDeviceOptionsTest, ADriveIsADriveModeProductUnlessToldOtherwise) {
    auto parsed = Parse({"--drive=backing.img"});
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Transport, DeviceTransport::Drive);
    EXPECT_EQ(parsed.Options->DriveImage, "backing.img");
    EXPECT_EQ(parsed.Options->ProductId, kDriveModeProductIds[0]);
    parsed = Parse({"--product=0x6A04", "--drive=backing.img"});
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->ProductId, 0x6A04);
}

TEST(VirtualDeviceOptionsTest, TakesEveryFaultWithItsPacketNumber) {
    const auto parsed = Parse(
        {"--gadget", "--udc=dummy_udc.1", "--vendor=0x1234", "--product=22136", "--version=0x10F",
         "--latency=25", "--silent", "--fail-at=5:0x18", "--silence-at=6", "--disappear-at=40",
         "--repeat-ack-at=2", "--memory-reply-at=9", "--fail-at=7", "--payload-out=p.bin"});
    ASSERT_TRUE(parsed.Options) << parsed.Error;
    const auto& options = *parsed.Options;
    EXPECT_EQ(options.Transport, DeviceTransport::Gadget);
    EXPECT_EQ(options.Controller, "dummy_udc.1");
    EXPECT_EQ(options.VendorId, 0x1234);
    EXPECT_EQ(options.ProductId, 0x5678);
    EXPECT_EQ(options.FirmwareVersion, 0x10Fu);
    EXPECT_EQ(options.ReplyLatency, std::chrono::milliseconds(25));
    EXPECT_TRUE(options.Silent);
    EXPECT_EQ(options.PayloadOut, "p.bin");
    struct Expected {
        std::size_t Packet;
        PacketFault Fault;
        std::uint8_t Code;
    };
    const std::vector<Expected> expected = {
        {5, PacketFault::FailureReply, 0x18},
        {6, PacketFault::Silence, kReplyCodeFailure},
        {40, PacketFault::Disappear, kReplyCodeFailure},
        {2, PacketFault::RepeatAck, kReplyCodeFailure},
        {9, PacketFault::MemoryReply, kReplyCodeFailure},
        {7, PacketFault::FailureReply, kReplyCodeFailure},
    };
    ASSERT_EQ(options.Faults.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(options.Faults[i].PacketNumber, expected[i].Packet) << i;
        EXPECT_EQ(options.Faults[i].Fault, expected[i].Fault) << i;
        EXPECT_EQ(options.Faults[i].FailureCode, expected[i].Code) << i;
    }
}

}  // namespace
}  // namespace tarvex::sim
