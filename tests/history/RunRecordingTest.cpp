// Every run the terminal program makes, through the real engine and the virtual devices, leaves
// its record; --json and --history speak of them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "history/ReportTail.h"
#include "history/Sha256.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/history/HistoryTestSupport.h"

namespace tarvex {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

class CSizedVolume final : public CVolumeList {
public:
    explicit CSizedVolume(std::filesystem::path root) : m_Root(std::move(root)) {}
    std::vector<VolumeInfo> ListVolumes() override {
        return {{m_Root, "A:", kImageDriveCapacity, {}, {}}};
    }
    bool CanFindVolumesOf(const std::string&) override { return false; }

private:
    std::filesystem::path m_Root;
};

class CAcceptingWriter final : public CFileWriter {
public:
    FileWriteResult WriteWholeFile(const std::filesystem::path&,
                                   std::span<const std::uint8_t> bytes) override {
        return FileWriteResult{FileWriteError::None, FileWriteStep::Open, bytes.size(), {}};
    }
};

std::string FileDigest(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string bytes = whole.str();
    CSha256 digest;
    digest.Add({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return digest.FinishHex();
}

std::string LastLine(const std::string& text) {
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line)) {
        last = line;
    }
    return last;
}

struct RunRecordingFixture : ::testing::Test {
    void SetUp() override {
        spec.PayloadLength = 1000;
        ASSERT_TRUE(sim::WriteSampleImage(image, spec));
        port.AttachUpdateDevice(device);
        options.ImagePath = image;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    int Run(const CRunHistory* pHistory) {
        out.str("");
        err.str("");
        const CliStreams streams{out, err, -1, false, false};
        return RunCli(options, CliPlatform{*pPort, usb, english, driveCopy, nullptr, {}, pHistory},
                      streams, stop);
    }
    int Run() { return Run(&history); }

    std::filesystem::path folder = ScratchFolder("tarvex-recording");
    std::filesystem::path image = folder / "image.dat";
    CRunHistory history{folder / "state" / kHistoryFileName};
    sim::SampleImageSpec spec;
    std::shared_ptr<sim::CVirtualUpdateDevice> device =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualHidPort noHid;
    CHidPort* pPort = &port;
    sim::CVirtualUsbDeviceList usb;
    CFixedUiLanguage english{kLanguageEnglishUs};
    CliOptions options;
    DriveCopyServices driveCopy;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<bool> stop{false};
};

TEST_F(RunRecordingFixture, EachOutcomeLeavesARecordWithItsFields) {
    CSizedVolume volume(folder);
    CAcceptingWriter writer;
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int status;
        std::string outcome;
        std::string reasonPart;
        bool bReports;
    };
    const std::vector<Case> cases = {
        {"success", [&] { options.AssumeYes = true; }, kExitSuccess, "succeeded",
         "Firmware upgraded successful!", false},
        {"failure reply",
         [&] {
             options.AssumeYes = true;
             device->SetPacketFault(3, sim::PacketFault::FailureReply);
         },
         kExitUpdateFailed, "failed", "Firmware update failure", true},
        {"declined", [] {}, kExitCancelled, "cancelled", "the version question was declined",
         false},
        {"refused image",
         [&] {
             options.AssumeYes = true;
             std::filesystem::resize_file(image, 100);
         },
         kExitUsage, "image refused", "Open file error!", false},
        {"drive copy",
         [&] {
             options.AssumeYes = true;
             pPort = &noHid;
             usb.AddDevice(kTargetVendorId, 0x6A01, "D-SN");
             driveCopy = DriveCopyServices{&volume, &usb, &writer, {}};
             driveCopy.VolumeWaitLimit = std::chrono::milliseconds(0);
         },
         kExitSuccess, "succeeded", "Firmware upgraded successful!", false},
    };
    std::size_t expectedRecords = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const std::string digest = FileDigest(image);
        const auto size = std::filesystem::file_size(image);
        ASSERT_EQ(Run(), c.status) << err.str();
        EXPECT_THAT(err.str(), Not(HasSubstr("history")));
        const HistoryContents contents = history.Read();
        ASSERT_EQ(contents.Records.size(), ++expectedRecords);
        const RunRecord& record = contents.Records.back();
        EXPECT_EQ(record.Program, "tarvex-update-cli");
        EXPECT_EQ(record.Outcome, c.outcome);
        EXPECT_THAT(record.Reason, HasSubstr(c.reasonPart));
        EXPECT_EQ(!record.Reports.empty(), c.bReports);
        ASSERT_TRUE(record.Device);
        EXPECT_EQ(record.Device->VendorId, kTargetVendorId);
        const bool bDrive = std::string(c.name) == "drive copy";
        EXPECT_EQ(record.Device->Kind, bDrive ? "drive" : "hid");
        EXPECT_EQ(record.Device->ProductId, bDrive ? 0x6A01 : kUpdateDeviceProductId);
        EXPECT_EQ(record.Device->SerialNumber, bDrive ? "D-SN" : "VIRTUAL-6A11");
        EXPECT_EQ(record.DeviceVersion, bDrive ? "" : "V1.05");
        ASSERT_TRUE(record.Image);
        EXPECT_EQ(record.Image->FileName, "image.dat");
        EXPECT_EQ(record.Image->Size, size);
        EXPECT_EQ(record.Image->Sha256, digest);
        EXPECT_EQ(record.Image->Version, c.outcome == "image refused" ? "" : "V1.15");
        if (c.bReports) {
            // The failure reply is among the last reports, as --trace would print it.
            EXPECT_EQ(record.Reports.back().substr(0, 2), "< ");
            EXPECT_LE(record.Reports.size(), kReportTailLength);
        }

        device = std::make_shared<sim::CVirtualUpdateDevice>();
        port.AttachUpdateDevice(device);
        options = CliOptions{};
        options.ImagePath = image;
        ASSERT_TRUE(sim::WriteSampleImage(image, spec));
    }
}

TEST_F(RunRecordingFixture, AnUnwritableHistoryChangesNeitherResultNorStatus) {
    options.AssumeYes = true;
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string lastLine = LastLine(out.str());
    std::ofstream(folder / "file") << "x";
    const CRunHistory unwritable(folder / "file" / kHistoryFileName);
    port.AttachUpdateDevice(device = std::make_shared<sim::CVirtualUpdateDevice>());
    EXPECT_EQ(Run(&unwritable), kExitSuccess);
    EXPECT_EQ(LastLine(out.str()), lastLine);
    EXPECT_THAT(err.str(), HasSubstr("this run was not recorded in the history"));

    port.AttachUpdateDevice(device = std::make_shared<sim::CVirtualUpdateDevice>());
    device->SetPacketFault(3, sim::PacketFault::FailureReply);
    EXPECT_EQ(Run(&unwritable), kExitUpdateFailed);
    EXPECT_EQ(LastLine(out.str()), "Firmware update failure");
}

TEST_F(RunRecordingFixture, JsonEndsAnUpdateWithItsOutcome) {
    options.AssumeYes = true;
    options.Json = true;
    ASSERT_EQ(Run(), kExitSuccess);
    const Json json = Json::parse(LastLine(out.str()));
    EXPECT_EQ(json["outcome"], "succeeded");
    EXPECT_EQ(json["exit_status"], kExitSuccess);
    EXPECT_EQ(json["reason"], "Firmware upgraded successful!");
    EXPECT_EQ(json["device"]["kind"], "hid");
    EXPECT_EQ(json["device"]["vendor"], "3a7e");
    EXPECT_EQ(json["device"]["product"], "6a11");
    EXPECT_EQ(json["device"]["serial"], "VIRTUAL-6A11");
    EXPECT_EQ(json["device_version"], "V1.05");
    EXPECT_EQ(json["image"]["file"], "image.dat");
    EXPECT_EQ(json["image"]["version"], "V1.15");
    EXPECT_EQ(json["image"]["sha256"], FileDigest(image));
    // The lines before it are those of a run without --json.
    EXPECT_THAT(out.str(), HasSubstr("Firmware upgraded successful!\n{"));

    options.ImagePath = folder / "missing.dat";
    ASSERT_EQ(Run(), kExitUsage);
    const Json missing = Json::parse(LastLine(out.str()));
    EXPECT_EQ(missing["outcome"], "not started");
    EXPECT_EQ(missing["exit_status"], kExitUsage);
    EXPECT_THAT(missing["reason"].get<std::string>(), HasSubstr("does not exist"));
    EXPECT_TRUE(missing["device"].is_null());
}

TEST_F(RunRecordingFixture, JsonListHasTheFieldsOfList) {
    usb.AddDevice(kTargetVendorId, 0x6A02, "two words");
    options.List = true;
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string lines = out.str();
    options.Json = true;
    ASSERT_EQ(Run(), kExitSuccess);
    const Json devices = Json::parse(out.str());
    ASSERT_TRUE(devices.is_array());
    ASSERT_EQ(devices.size(), 2U);
    EXPECT_EQ(devices[0]["kind"], "drive");
    EXPECT_EQ(devices[0]["serial"], "two words");
    EXPECT_EQ(devices[1]["kind"], "hid");
    for (const Json& listed : devices) {
        const std::string line = listed["kind"].get<std::string>() + ' ' +
                                 listed["vendor"].get<std::string>() + ':' +
                                 listed["product"].get<std::string>() + ' ' +
                                 listed["node"].get<std::string>() + " serial=";
        EXPECT_THAT(lines, HasSubstr(line));
    }
}

TEST_F(RunRecordingFixture, HistoryPrintsReadableLinesAndSkipsADamagedOne) {
    ASSERT_TRUE(history.Append(SampleRecord("one")).Ok());
    { std::ofstream(history.File(), std::ios::app) << "{\"broken\n"; }
    ASSERT_TRUE(history.Append(SampleRecord("two")).Ok());
    options = CliOptions{};
    options.History = true;
    ASSERT_EQ(Run(), kExitSuccess);
    std::istringstream lines(out.str());
    std::vector<std::string> printed;
    for (std::string line; std::getline(lines, line);) {
        printed.push_back(line);
    }
    ASSERT_EQ(printed.size(), 2U);
    EXPECT_EQ(printed[0], ReadableLine(SampleRecord("one")));
    EXPECT_EQ(printed[1], ReadableLine(SampleRecord("two")));
    EXPECT_THAT(err.str(), HasSubstr("line 2: damaged, skipped"));

    options.Json = true;
    ASSERT_EQ(Run(), kExitSuccess);
    const Json records = Json::parse(out.str());
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[1]["reason"], "two");
    EXPECT_EQ(records[1]["device"]["serial"], "SN 1");
}

}  // namespace
}  // namespace tarvex
