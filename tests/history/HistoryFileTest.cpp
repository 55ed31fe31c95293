// The history's file and its records: the bound, damaged lines, what cannot be written, the
// JSON form and the digest.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "history/RunHistory.h"
#include "history/Sha256.h"
#include "tests/history/HistoryTestSupport.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Digest(const std::string& text) {
    CSha256 digest;
    digest.Add({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return digest.FinishHex();
}

TEST(Sha256Test, KnownDigests) {
    // Lengths around the 55/56/64-byte padding boundaries, where an off-by-one shows.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000, 'a'),
         "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto& [text, hex] : cases) {
        EXPECT_EQ(Digest(text), hex) << text.size() << " bytes";
    }
}

TEST(RunRecordTest, JsonHoldsEveryFieldAndReadsBack) {
    const RunRecord record = SampleRecord("device refused");
    const nlohmann::json json = nlohmann::json::parse(JsonLine(RunRecordToJson(record)));
    EXPECT_EQ(json["time"], "2026-12-11T08:40:05Z");
    EXPECT_EQ(json["program"], "tarvex-update-cli");
    EXPECT_EQ(json["device"]["kind"], "hid");
    EXPECT_EQ(json["device"]["vendor"], "3a7e");
    EXPECT_EQ(json["device"]["product"], "6a11");
    EXPECT_EQ(json["device"]["serial"], "SN 1");
    EXPECT_EQ(json["device"]["node"], "/dev/hidraw3");
    EXPECT_EQ(json["device_version"], "V1.05");
    EXPECT_EQ(json["image"]["file"], "fw.dat");
    EXPECT_EQ(json["image"]["size"], 4636);
    EXPECT_EQ(json["image"]["version"], "V1.15 beta 2");
    EXPECT_EQ(json["outcome"], "failed");
    EXPECT_EQ(json["reason"], "device refused");
    EXPECT_EQ(json["duration_ms"], 1234);
    EXPECT_EQ(json["reports"].size(), 2U);

    const auto back = RunRecordFromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(JsonLine(RunRecordToJson(*back)), JsonLine(RunRecordToJson(record)));
}

TEST(RunRecordTest, ASerialThatIsNotUtf8StillMakesALine) {
    RunRecord record = SampleRecord("x");
    record.Device->SerialNumber = std::string("A\xff\xfe", 3);
    const std::string line = JsonLine(RunRecordToJson(record));
    EXPECT_TRUE(RunRecordFromJson(nlohmann::json::parse(line)));
}

TEST(RunRecordTest, ObjectsMissingOrMistypingAFieldAreRefused) {
    const nlohmann::json whole = RunRecordToJson(SampleRecord("x"));
    const std::vector<std::function<void(nlohmann::json&)>> damages = {
        [](nlohmann::json& j) { j.erase("outcome"); },
        [](nlohmann::json& j) { j["time"] = "yesterday"; },
        [](nlohmann::json& j) { j["duration_ms"] = "long"; },
        [](nlohmann::json& j) { j["device"]["vendor"] = "3a7g"; },
        [](nlohmann::json& j) { j["image"] = 5; },
        [](nlohmann::json& j) { j = nlohmann::json::array(); },
    };
    for (std::size_t i = 0; i < damages.size(); ++i) {
        nlohmann::json damaged = whole;
        damages[i](damaged);
        EXPECT_FALSE(RunRecordFromJson(damaged)) << "damage " << i << ": " << damaged.dump();
    }
}

TEST(RunRecordTest, ReadableLineNamesTheRunOnOneLine) {
    RunRecord record = SampleRecord("Firmware update failure\r\nthe device went away");
    EXPECT_EQ(ReadableLine(record),
              "2026-12-11T08:40:05Z tarvex-update-cli: hid 3a7e:6a11 serial=SN 1 V1.05 <- fw.dat "
              "V1.15 beta 2: failed (Firmware update failure the device went away), 1.2 s");
    const std::string details = ReadableDetails(record);
    EXPECT_THAT(details, HasSubstr("Image SHA-256: " + std::string(64, 'a') + "\n"));
    EXPECT_THAT(details, HasSubstr("Last reports:\n< 81 0\n< 81 1\n"));
}

struct HistoryFileFixture : ::testing::Test {
    std::filesystem::path folder = ScratchFolder("tarvex-history");
    CRunHistory history{folder / "state" / kHistoryFileName};
    void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(HistoryFileFixture, TheFolderIsMadeAndRecordsReadBackOldestFirst) {
    ASSERT_TRUE(history.Append(SampleRecord("first")).Ok());
    ASSERT_TRUE(history.Append(SampleRecord("second")).Ok());
    const HistoryContents contents = history.Read();
    EXPECT_TRUE(contents.Read.Ok());
    ASSERT_EQ(contents.Records.size(), 2U);
    EXPECT_EQ(contents.Records[0].Reason, "first");
    EXPECT_EQ(contents.Records[1].Reason, "second");
    EXPECT_EQ(history.Last()->Reason, "second");
}

TEST_F(HistoryFileFixture, TheMostRecentRecordsAreKept) {
    for (std::size_t i = 0; i < kHistoryRecordLimit + 5; ++i) {
        ASSERT_TRUE(history.Append(SampleRecord(std::to_string(i))).Ok()) << i;
    }
    const HistoryContents contents = history.Read();
    ASSERT_EQ(contents.Records.size(), kHistoryRecordLimit);
    EXPECT_EQ(contents.Records.front().Reason, "5");
    EXPECT_EQ(contents.Records.back().Reason, std::to_string(kHistoryRecordLimit + 4));
    EXPECT_TRUE(contents.Notes.empty());
    EXPECT_FALSE(std::filesystem::exists(history.File().string() + ".tmp"));
}

TEST_F(HistoryFileFixture, DamagedLinesAreSkippedWithANote) {
    ASSERT_TRUE(history.Append(SampleRecord("before")).Ok());
    {
        std::ofstream file(history.File(), std::ios::app | std::ios::binary);
        file << "{\"time\":\"2026-12-11T08:40:05Z\",\"prog\n";  // cut by a crash
        file << "not json at all\n";
    }
    ASSERT_TRUE(history.Append(SampleRecord("after")).Ok());
    {
        std::ofstream file(history.File(), std::ios::app | std::ios::binary);
        file << "{\"time\":";  // a last line without its end
    }
    const HistoryContents contents = history.Read();
    ASSERT_EQ(contents.Records.size(), 2U);
    EXPECT_EQ(contents.Records[0].Reason, "before");
    EXPECT_EQ(contents.Records[1].Reason, "after");
    EXPECT_THAT(contents.Notes, ElementsAre("line 2: damaged, skipped", "line 3: damaged, skipped",
                                            "line 5: cut short, skipped"));
}

TEST_F(HistoryFileFixture, WhatCannotBeWrittenIsAValueNotAFailure) {
    // The history's name taken by a folder; its folder's name taken by a file.
    std::filesystem::create_directories(history.File());
    EXPECT_EQ(history.Append(SampleRecord("x")).Error, RecordFileError::NotRegularFile);
    EXPECT_EQ(history.Read().Read.Error, RecordFileError::NotRegularFile);

    std::ofstream(folder / "file") << "x";
    const CRunHistory underFile(folder / "file" / kHistoryFileName);
    const RecordFileResult result = underFile.Append(SampleRecord("x"));
    EXPECT_EQ(result.Error, RecordFileError::CannotCreateFolder);
    EXPECT_THAT(result.Detail, HasSubstr("file"));

    EXPECT_EQ(CRunHistory({}).Append(SampleRecord("x")).Error, RecordFileError::NoFolder);
}

TEST_F(HistoryFileFixture, AMissingHistoryReadsAsEmpty) {
    const HistoryContents contents = history.Read();
    EXPECT_TRUE(contents.Read.Ok());
    EXPECT_TRUE(contents.Records.empty());
    EXPECT_FALSE(history.Last());
}

// Each appender works through its own handles, as another process would; the lock is what
// keeps the trims from dropping the other's lines.
TEST_F(HistoryFileFixture, AppendersAtOnceLeaveEveryRecordWhole) {
    constexpr int kEach = 120;
    const std::string bulk(5000, 'r');  // beyond one atomic pipe write
    // Neither runs more than a few appends ahead of the other: two programs append a record
    // per run, never a burst that keeps the lock from the other for the whole wait.
    std::array<std::atomic<int>, 2> done{};
    const auto append = [&](char who) {
        const std::size_t self = who == 'a' ? 0 : 1;
        for (int i = 0; i < kEach; ++i) {
            while (done[self].load() > done[1 - self].load() + 3 && done[1 - self].load() < kEach) {
                std::this_thread::yield();
            }
            RunRecord record = SampleRecord(std::string(1, who) + std::to_string(i));
            record.Reports = {bulk};
            if (const RecordFileResult result = history.Append(record); !result.Ok()) {
                ADD_FAILURE() << who << i << ": " << result.Detail;
            }
            ++done[self];
        }
    };
    std::thread a(append, 'a');
    std::thread b(append, 'b');
    a.join();
    b.join();
    const HistoryContents contents = history.Read();
    EXPECT_TRUE(contents.Notes.empty()) << contents.Notes.front();
    ASSERT_EQ(contents.Records.size(), kHistoryRecordLimit);
    ExpectEachAppendersOrder(contents.Records, kEach);
}

}  // namespace
}  // namespace tarvex
