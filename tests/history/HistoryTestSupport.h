#pragma once
// A scratch folder per test, and records to fill the history with.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "history/RunRecord.h"

namespace tarvex {

inline std::filesystem::path ScratchFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   (prefix + "-" + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// A failed HID run whose reason carries `tag`, with `reports` report lines.
inline RunRecord SampleRecord(const std::string& tag, std::size_t reports = 2) {
    RunRecord record;
    record.Time = std::chrono::sys_days(std::chrono::year(2026) / 12 / 11) + std::chrono::hours(8) +
                  std::chrono::minutes(40) + std::chrono::seconds(5);
    record.Program = "tarvex-update-cli";
    record.Device = DeviceRecord{"hid", 0x3A7E, 0x6A11, "SN 1", "/dev/hidraw3"};
    record.DeviceVersion = "V1.05";
    record.Image = ImageRecord{"fw.dat", 4636, std::string(64, 'a'), "V1.15 beta 2"};
    record.Outcome = "failed";
    record.Reason = tag;
    record.Duration = std::chrono::milliseconds(1234);
    for (std::size_t i = 0; i < reports; ++i) {
        record.Reports.push_back("< 81 " + std::to_string(i));
    }
    return record;
}

// Two appenders 'a' and 'b' each added records whose reasons are their letter and a running
// number 0..count-1: each one's records are in its own order, and its last one was kept.
inline void ExpectEachAppendersOrder(const std::vector<RunRecord>& records, int count) {
    for (const char who : {'a', 'b'}) {
        int last = -1;
        for (const RunRecord& record : records) {
            if (record.Reason[0] == who) {
                const int number = std::stoi(record.Reason.substr(1));
                EXPECT_GT(number, last);
                last = number;
            }
        }
        EXPECT_EQ(last, count - 1) << who;
    }
}

}  // namespace tarvex
