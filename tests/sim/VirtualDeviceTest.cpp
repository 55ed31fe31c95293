// The device's side of the update protocol, driven report by report through its public API.

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <numeric>
#include <thread>

#include "tests/sim/SimTestReports.h"

namespace tarvex::sim::test {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;

const ReportBody kUpdateRequest = {5, 0x00, 0x1A, 0x01, 0x00, 0x00};
const ReportBody kPoll = {5, 0x00, 0x1D, 0x01, 0x00, 0x00};
const ReportBody kVersionQuery = {5, 0x00, 0x16, 0x01, 0x00, 0x04};
const ReportBody kFinish = {5, 0x00, 0x16, 0x01, 0x00, 0x02};

std::vector<std::uint8_t> Counting(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// An image header's four words and twelve device bytes, written out in both byte orders by
// hand: the device must read the host's wire order on its own, so neither side's encoder may
// build what the other is checked against.
struct HeaderFields {
    std::uint32_t Version = 0x00020073;  // 1.15, beta 2
    std::uint32_t TargetAddress = 0x08004000;
    std::uint32_t PayloadLength = 64;
    std::uint32_t DeviceWord = 0xA1B2C3D4;
};

void AppendWord(std::vector<std::uint8_t>& bytes, std::uint32_t word, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
}

std::vector<std::uint8_t> HeaderBytes(const HeaderFields& fields, bool bigEndian) {
    std::vector<std::uint8_t> bytes;
    for (const std::uint32_t word :
         {fields.Version, fields.TargetAddress, fields.PayloadLength, fields.DeviceWord}) {
        AppendWord(bytes, word, bigEndian);
    }
    for (std::uint8_t b = 0x40; b < 0x4C; ++b) {
        bytes.push_back(b);
    }
    return bytes;
}

std::vector<std::uint8_t> FileOrderHeader(std::uint32_t payloadLength) {
    return HeaderBytes(HeaderFields{.PayloadLength = payloadLength}, false);
}

// The image header command as the host sends it: 81 23 00 16 1F 00 01 1C 00, then the header
// with its first four words big-endian.
ReportBody HeaderBody(std::uint32_t payloadLength) {
    ReportBody body = {0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00};
    const auto wire = HeaderBytes(HeaderFields{.PayloadLength = payloadLength}, true);
    body.insert(body.end(), wire.begin(), wire.end());
    return body;
}

ReportBody DataBody(const std::vector<std::uint8_t>& chunk) {
    return EncodeCommandPacket(kCommandData, chunk);
}

HidIoStatus Write(CVirtualUpdateDevice& device, const ReportBody& body) {
    return device.ReceiveOutputReport(OutputReport(body));
}

TEST(VirtualUpdateDevice, AnswersEachKindOfPacket) {
    using Counter = std::size_t (CVirtualUpdateDevice::*)() const;
    struct Case {
        const char* Name;
        ReportBody Body;
        std::vector<HidReport> Replies;
        Counter CountOf;
        std::size_t Count;
    };
    const std::vector<Case> cases = {
        {"update request",
         kUpdateRequest,
         {kUpdateReady},
         &CVirtualUpdateDevice::UpdateRequestCount,
         1},
        {"image header", HeaderBody(64), {kAck}, nullptr, 0},
        {"data packet",
         DataBody(Counting(kChunkSize, 0)),
         {kAck},
         &CVirtualUpdateDevice::DataPacketCount,
         1},
        {"version query",
         kVersionQuery,
         {ReportOf({kInputReportId, 0x0B, 0x00, 0x16, 0x00, 0x00, 0x04, 0x00, 0x00, 0x78, 0x56,
                    0x34, 0x12})},
         &CVirtualUpdateDevice::VersionQueryCount,
         1},
        {"poll", kPoll, {}, &CVirtualUpdateDevice::PollCount, 1},
        {"finish", kFinish, {}, &CVirtualUpdateDevice::FinishCount, 1},
        {"unmarked update request",
         {5, 0x01, 0x1A, 0x01, 0x00, 0x00},
         {},
         &CVirtualUpdateDevice::UpdateRequestCount,
         0},
        {"unknown command", {5, 0x00, 0x16, 0x01, 0x00, 0x07}, {}, nullptr, 0},
        {"image header of the wrong size",
         EncodeCommandPacket(kCommandImageHeader, Counting(27, 0)),
         {},
         nullptr,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CVirtualUpdateDevice device(0x12345678);
        EXPECT_EQ(Write(device, c.Body), HidIoStatus::Ok);
        EXPECT_EQ(ReadableReplies(device), c.Replies);
        if (c.CountOf != nullptr) {
            EXPECT_EQ((device.*c.CountOf)(), c.Count);
        }
    }
}

TEST(VirtualUpdateDevice, AssemblesAChunkSplitOverTwoReports) {
    CVirtualUpdateDevice device;
    const auto chunk = Counting(40, 0x80);
    // 47 packet bytes: 39 in the first report, the last 8 in a report of their own.
    HidReport first = ReportOf({kOutputReportId, 0x27, 0x00, 0x16, 0x2B, 0x00, 0x00, 0x28, 0x00});
    std::copy(chunk.begin(), chunk.begin() + 32, first.begin() + 9);
    HidReport second = ReportOf({kOutputReportId, 0x08});
    std::copy(chunk.begin() + 32, chunk.end(), second.begin() + 2);

    ASSERT_EQ(device.ReceiveOutputReport(first), HidIoStatus::Ok);
    EXPECT_TRUE(ReadableReplies(device).empty()) << "acknowledged half a packet";
    ASSERT_EQ(device.ReceiveOutputReport(second), HidIoStatus::Ok);
    EXPECT_EQ(ReadableReplies(device), std::vector<HidReport>{kAck});
    EXPECT_EQ(device.DataPacketCount(), 1u);

    // The next packet starts afresh after the continuation.
    const auto next = Counting(5, 0x01);
    ASSERT_EQ(Write(device, DataBody(next)), HidIoStatus::Ok);
    auto expected = chunk;
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(device.ReceivedDataBytes(), expected);
    EXPECT_EQ(device.DataPacketCount(), 2u);
}

TEST(VirtualUpdateDevice, CutsThePayloadToTheHeaderAndKeepsTheHeaderInFileOrder) {
    CVirtualUpdateDevice device;
    ASSERT_EQ(Write(device, HeaderBody(40)), HidIoStatus::Ok);
    const auto bytes = Counting(64, 0);
    ASSERT_EQ(Write(device, DataBody({bytes.begin(), bytes.begin() + 32})), HidIoStatus::Ok);
    ASSERT_EQ(Write(device, DataBody({bytes.begin() + 32, bytes.end()})), HidIoStatus::Ok);

    EXPECT_EQ(device.ReceivedDataBytes(), bytes);
    EXPECT_EQ(device.ReceivedPayload(),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 40));
    EXPECT_EQ(device.ReceivedImageHeader(), FileOrderHeader(40));
}

// A header whose words arrive in file order (little-endian) is read as the device reads it:
// most significant byte first, so the fields it understood are not the image's.
TEST(VirtualUpdateDevice, ReadsTheHeaderWordsMostSignificantByteFirst) {
    CVirtualUpdateDevice device;
    ReportBody littleEndian = {0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00};
    const auto fileOrder = FileOrderHeader(40);
    littleEndian.insert(littleEndian.end(), fileOrder.begin(), fileOrder.end());
    ASSERT_EQ(Write(device, littleEndian), HidIoStatus::Ok);
    ASSERT_TRUE(device.ReceivedImageHeader().has_value());
    EXPECT_NE(device.ReceivedImageHeader(), fileOrder);
    // Bytes 28 00 00 00 read most significant first: a payload of 0x28000000 bytes.
    EXPECT_EQ(device.ReceivedImageHeader()->at(11), 0x28);
    EXPECT_EQ(device.ReceivedImageHeader()->at(8), 0x00);
}

TEST(VirtualUpdateDevice, FaultTakesThePlaceOfOneAnswer) {
    struct Case {
        const char* Name;
        PacketFault Fault;
        std::vector<HidReport> Answer;
    };
    const HidReport memoryReply = ReportOf({kInputReportId, 0x05, 0x00, 0x14, 0x00, 0x00, 0x32});
    const std::vector<Case> cases = {
        {"silence", PacketFault::Silence, {}},
        {"failure reply", PacketFault::FailureReply, {FailureReply(0x18)}},
        {"repeated ack", PacketFault::RepeatAck, {kAck, kAck}},
        {"memory reply", PacketFault::MemoryReply, {memoryReply}},
    };
    const HidReport versionReply =
        ReportOf({kInputReportId, 0x0B, 0x00, 0x16, 0x00, 0x00, 0x04, 0x00, 0x00, 105});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CVirtualUpdateDevice device;
        // Packet 2 is the first data packet: the poll, version query and finish between the
        // answered packets do not count.
        device.SetPacketFault(2, c.Fault, 0x18);
        for (const auto& body : {kUpdateRequest, kPoll, kVersionQuery, HeaderBody(64), kFinish,
                                 DataBody(Counting(32, 0)), DataBody(Counting(32, 32))}) {
            ASSERT_EQ(Write(device, body), HidIoStatus::Ok);
        }
        std::vector<HidReport> expected = {kUpdateReady, versionReply, kAck};
        expected.insert(expected.end(), c.Answer.begin(), c.Answer.end());
        expected.push_back(kAck);
        EXPECT_EQ(ReadableReplies(device), expected);
        // The device still takes the data it did not acknowledge properly.
        EXPECT_EQ(device.ReceivedDataBytes(), Counting(64, 0));
    }
}

TEST(VirtualUpdateDevice, DisappearsOnTheFaultedPacket) {
    CVirtualUpdateDevice device;
    device.SetPacketFault(1, PacketFault::Disappear);
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    EXPECT_EQ(Write(device, HeaderBody(64)), HidIoStatus::DeviceGone);
    EXPECT_FALSE(device.Attached());
    HidReport reply{};
    EXPECT_EQ(device.SendInputReport(reply, milliseconds(0)), HidIoStatus::DeviceGone);
    EXPECT_EQ(Write(device, kPoll), HidIoStatus::DeviceGone);
    EXPECT_EQ(device.PollCount(), 0u);
}

// Refused writes never reach the device: the refused packet keeps its number, and only the
// report that carries it is refused, not a poll before it.
TEST(VirtualUpdateDevice, RefusesTheWritesItIsToldTo) {
    CVirtualUpdateDevice device;
    device.RefuseWriteOf(1);
    EXPECT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    EXPECT_EQ(Write(device, kPoll), HidIoStatus::Ok);
    EXPECT_EQ(Write(device, HeaderBody(64)), HidIoStatus::Failed);
    EXPECT_FALSE(device.ReceivedImageHeader().has_value());
    EXPECT_EQ(Write(device, HeaderBody(64)), HidIoStatus::Ok) << "refused once only";
    EXPECT_EQ(ReadableReplies(device), (std::vector<HidReport>{kUpdateReady, kAck}));

    device.RefuseWritesAfter(2);
    EXPECT_EQ(Write(device, DataBody(Counting(32, 0))), HidIoStatus::Ok);
    for (const auto& body : {kPoll, kFinish, DataBody(Counting(32, 32))}) {
        EXPECT_EQ(Write(device, body), HidIoStatus::Failed);
    }
    EXPECT_EQ(device.DataPacketCount(), 1u);
    EXPECT_EQ(device.PollCount(), 1u);
    EXPECT_EQ(device.FinishCount(), 0u);
    EXPECT_TRUE(device.Attached());
    device.ClearFaults();
    EXPECT_EQ(Write(device, kFinish), HidIoStatus::Ok);
}

TEST(VirtualUpdateDevice, HeldRepliesWaitForTheRelease) {
    CVirtualUpdateDevice device;
    device.HoldReplies(true);
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    ASSERT_EQ(Write(device, kVersionQuery), HidIoStatus::Ok);
    HidReport reply{};
    EXPECT_EQ(device.SendInputReport(reply, milliseconds(10)), HidIoStatus::TimedOut);
    EXPECT_EQ(device.QueuedReplyCount(), 2u);

    // A reader already waiting is woken by the release.
    std::promise<void> readerStarted;
    const auto started = readerStarted.get_future();
    HidIoStatus status = HidIoStatus::TimedOut;
    std::thread reader([&] {
        readerStarted.set_value();
        status = device.SendInputReport(reply, kGenerousTimeout);
    });
    started.wait();
    device.HoldReplies(false);
    reader.join();
    EXPECT_EQ(status, HidIoStatus::Ok);
    EXPECT_EQ(reply, kUpdateReady);
    EXPECT_EQ(device.QueuedReplyCount(), 1u);
}

TEST(VirtualUpdateDevice, PacketNumbersRestartWithEverySessionAndReset) {
    CVirtualUpdateDevice device;
    device.SetPacketFault(1, PacketFault::FailureReply);
    const auto opening = [&] {
        EXPECT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
        EXPECT_EQ(Write(device, HeaderBody(64)), HidIoStatus::Ok);
        return ReadableReplies(device);
    };
    const std::vector<HidReport> faulted = {kUpdateReady, FailureReply(0x15)};
    EXPECT_EQ(opening(), faulted);
    device.Unplug();
    device.Plug();
    EXPECT_EQ(opening(), faulted);
    device.Reset();
    EXPECT_EQ(opening(), faulted) << "Reset keeps the faults";
    device.ClearFaults();
    device.Reset();
    EXPECT_EQ(opening(), (std::vector<HidReport>{kUpdateReady, kAck}));
}

TEST(VirtualUpdateDevice, SilentDeviceCountsButNeverAnswers) {
    CVirtualUpdateDevice device;
    device.SetSilent(true);
    for (const auto& body :
         {kUpdateRequest, HeaderBody(64), kVersionQuery, DataBody(Counting(32, 0))}) {
        ASSERT_EQ(Write(device, body), HidIoStatus::Ok);
    }
    EXPECT_TRUE(ReadableReplies(device).empty());
    EXPECT_EQ(device.UpdateRequestCount(), 1u);
    EXPECT_EQ(device.VersionQueryCount(), 1u);
    EXPECT_EQ(device.DataPacketCount(), 1u);

    device.SetSilent(false);
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    EXPECT_EQ(ReadableReplies(device), std::vector<HidReport>{kUpdateReady});
}

TEST(VirtualUpdateDevice, RecordsEveryReportBothWaysAndResetForgetsThem) {
    CVirtualUpdateDevice device;
    const HidReport request = OutputReport(kUpdateRequest);
    const HidReport injected = ReportOf({kInputReportId, 0x05, 0x01, 0x19, 0x00, 0x00, 0x00, 0xEE});
    ASSERT_EQ(device.ReceiveOutputReport(request), HidIoStatus::Ok);
    device.InjectInputReport(injected);
    EXPECT_EQ(ReadableReplies(device), (std::vector<HidReport>{kUpdateReady, injected}));

    const auto record = device.Record();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0].Direction, ReportDirection::ToDevice);
    EXPECT_EQ(record[0].Bytes, request);
    EXPECT_EQ(record[1].Direction, ReportDirection::FromDevice);
    EXPECT_EQ(record[1].Bytes, kUpdateReady);
    EXPECT_EQ(record[2].Direction, ReportDirection::FromDevice);
    EXPECT_EQ(record[2].Bytes, injected);

    ASSERT_EQ(Write(device, HeaderBody(8)), HidIoStatus::Ok);
    ASSERT_EQ(Write(device, DataBody(Counting(8, 0))), HidIoStatus::Ok);
    device.Reset();
    EXPECT_TRUE(device.Record().empty());
    EXPECT_TRUE(device.ReceivedDataBytes().empty());
    EXPECT_FALSE(device.ReceivedImageHeader().has_value());
    EXPECT_EQ(device.UpdateRequestCount(), 0u);
    EXPECT_EQ(device.DataPacketCount(), 0u);
}

TEST(VirtualUpdateDevice, ReplyWaitsForItsLatency) {
    CVirtualUpdateDevice device;
    device.SetReplyLatency(hours(1));
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    HidReport reply{};
    EXPECT_EQ(device.SendInputReport(reply, milliseconds(10)), HidIoStatus::TimedOut);

    // A reader that waits longer than the latency gets the reply once it is due, although
    // nothing else happens on the device in between to wake it.
    device.Plug();
    device.SetReplyLatency(milliseconds(20));
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    ASSERT_EQ(device.SendInputReport(reply, kGenerousTimeout), HidIoStatus::Ok);
    EXPECT_EQ(reply, kUpdateReady);
}

// The latency runs from the request's arrival: a reply is never readable before then, whether
// the reader waits from the start or comes once the reply is already due (then it must not
// wait again). A reply handed out early by a fraction of a millisecond hides behind a late
// wake-up on a busy machine, hence the many short round trips.
TEST(VirtualUpdateDevice, ReplyIsDueItsLatencyAfterTheRequestArrived) {
    using Clock = std::chrono::steady_clock;
    constexpr milliseconds kShortLatency(2);
    constexpr int kRoundTrips = 25;
    CVirtualUpdateDevice device;
    device.SetReplyLatency(kShortLatency);
    HidReport reply{};
    for (int trip = 0; trip < kRoundTrips; ++trip) {
        const auto beforeWrite = Clock::now();
        ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
        ASSERT_EQ(device.SendInputReport(reply, kGenerousTimeout), HidIoStatus::Ok);
        const auto waited = Clock::now() - beforeWrite;
        ASSERT_GE(waited, kShortLatency)
            << "round trip " << trip << ": a reply came "
            << std::chrono::duration<double, std::micro>(kShortLatency - waited).count()
            << " us before it was due";
        ASSERT_EQ(reply, kUpdateReady);
    }

    constexpr milliseconds kLatency(30);
    device.SetReplyLatency(kLatency);
    ASSERT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    std::this_thread::sleep_for(kLatency);
    EXPECT_EQ(device.SendInputReport(reply, milliseconds(0)), HidIoStatus::Ok)
        << "the latency was counted from the read instead of the request";
}

TEST(VirtualUpdateDevice, UnplugWakesABlockedReader) {
    CVirtualUpdateDevice device;
    ASSERT_EQ(Write(device, kPoll), HidIoStatus::Ok);
    std::promise<void> readerStarted;
    const auto started = readerStarted.get_future();
    HidIoStatus status = HidIoStatus::Ok;
    std::thread reader([&] {
        HidReport reply{};
        readerStarted.set_value();
        status = device.SendInputReport(reply, kGenerousTimeout);
    });
    started.wait();
    // Whether the reader is already waiting or not yet, it must come back with DeviceGone.
    device.Unplug();
    reader.join();
    EXPECT_EQ(status, HidIoStatus::DeviceGone);
    EXPECT_EQ(Write(device, kUpdateRequest), HidIoStatus::DeviceGone);

    const std::uint64_t before = device.Session();
    device.Plug();
    EXPECT_GT(device.Session(), before);
    EXPECT_EQ(Write(device, kUpdateRequest), HidIoStatus::Ok);
    EXPECT_EQ(ReadableReplies(device), std::vector<HidReport>{kUpdateReady});
    EXPECT_EQ(device.Record().size(), 3u) << "the record outlives the replug";
    EXPECT_EQ(device.PollCount(), 1u);
}

}  // namespace
}  // namespace tarvex::sim::test
