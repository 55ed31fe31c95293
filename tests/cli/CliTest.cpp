// The terminal program's contract, run in-process against the virtual device.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/CliApp.h"
#include "cli/ReportTrace.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/cli/AnswerPipe.h"

namespace tarvex {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(CliOptionsTest, Parsing) {
    struct Case {
        std::vector<std::string_view> args;
        bool ok;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {{"image.dat"}, true, ""},
        {{"--virtual", "--yes", "--trace", "image.dat"}, true, ""},
        {{"--virtual=drive", "image.dat"}, true, ""},
        {{"--list"}, true, ""},
        {{"--help"}, true, ""},
        {{}, false, "no firmware image"},
        {{"--bogus", "image.dat"}, false, "unknown option '--bogus'"},
        {{"--virtual=usb", "image.dat"}, false, "unknown virtual device 'usb'"},
        {{"a.dat", "b.dat"}, false, "more than one image"},
        {{"--list", "a.dat"}, false, "--list takes no image"},
        {{"--", "-strange-name.dat"}, true, ""},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCliArguments(c.args);
        EXPECT_EQ(parsed.Options.has_value(), c.ok) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_THAT(parsed.Error, HasSubstr(c.errorPart));
    }
    const auto parsed = ParseCliArguments(std::vector<std::string_view>{"--virtual", "x.dat"});
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Virtual, VirtualDeviceKind::Hid);
    EXPECT_EQ(parsed.Options->ImagePath, "x.dat");
}

struct CliFixture : ::testing::Test {
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("tarvex-cli-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(folder);
        spec.PayloadLength = 1000;
        image = folder / "image.dat";
        ASSERT_TRUE(sim::WriteSampleImage(image, spec));
        port.AttachUpdateDevice(device);
        options.ImagePath = image;
        options.Virtual = VirtualDeviceKind::Hid;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    int Run(int inputFd = -1) {
        const CliStreams streams{out, err, inputFd, inputFd >= 0, false};
        return RunCli(options, CliPlatform{port, usb, *language}, streams, stop);
    }

    std::filesystem::path folder;
    std::filesystem::path image;
    sim::SampleImageSpec spec;
    std::shared_ptr<sim::CVirtualUpdateDevice> device =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    CFixedUiLanguage english{kLanguageEnglishUs};
    CFixedUiLanguage chinese{kLanguageChineseSimplifiedPrc};
    const CUiLanguage* language = &english;
    CliOptions options;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<bool> stop{false};
};

TEST_F(CliFixture, ASuccessfulRunShowsVersionProgressAndEndsWithTheSuccessText) {
    options.AssumeYes = true;
    EXPECT_EQ(Run(), kExitSuccess);
    const auto lines = Lines(out.str());
    ASSERT_GE(lines.size(), 4U);
    EXPECT_EQ(lines[0], "Device firmware version: V1.05");
    EXPECT_THAT(lines[1], HasSubstr("Update firmware version: V1.15"));
    EXPECT_EQ(lines[lines.size() - 2], "100%");
    EXPECT_EQ(lines.back(), "Firmware upgraded successful!");
    EXPECT_EQ(device->ReceivedPayload(), sim::SamplePayload(spec));
}

TEST_F(CliFixture, OutcomesMapToExitStatusesAndTheLastLine) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int status;
        std::string lastLine;
    };
    const std::vector<Case> cases = {
        {"declined without a terminal", [] {}, kExitCancelled, ""},
        {"failure reply",
         [&] {
             options.AssumeYes = true;
             device->SetPacketFault(3, sim::PacketFault::FailureReply);
         },
         kExitUpdateFailed, "Firmware update failure"},
        {"refused image",
         [&] {
             options.AssumeYes = true;
             std::filesystem::resize_file(image, 100);
         },
         kExitUsage, "Open file error! Please check the file!"},
        {"Chinese texts",
         [&] {
             options.AssumeYes = true;
             language = &chinese;
         },
         kExitSuccess, "升级成功."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        out.str("");
        c.arrange();
        EXPECT_EQ(Run(), c.status);
        if (!c.lastLine.empty()) {
            EXPECT_EQ(Lines(out.str()).back(), c.lastLine);
        }
        port.AttachUpdateDevice(device = std::make_shared<sim::CVirtualUpdateDevice>());
        language = &english;
        options = CliOptions{};
    }
}

TEST_F(CliFixture, TheQuestionIsAnsweredOnTheTerminal) {
    for (const auto& [answer, status] :
         std::vector<std::pair<std::string, int>>{{"y\n", kExitSuccess}, {"n\n", kExitCancelled}}) {
        const CAnswerPipe input(answer);
        ASSERT_TRUE(input.Ready());
        EXPECT_EQ(Run(input.ReadFd()), status) << answer;
        device->Reset();
    }
}

TEST_F(CliFixture, MissingImageAndAbsentDeviceAreNamed) {
    options.ImagePath = folder / "nowhere.dat";
    EXPECT_EQ(Run(), kExitUsage);
    EXPECT_THAT(err.str(), HasSubstr("nowhere.dat"));

    options.ImagePath = image;
    device->Unplug();
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_THAT(err.str(), HasSubstr("No updatable device"));
}

TEST_F(CliFixture, TraceShowsEveryReportBothWays) {
    options.AssumeYes = true;
    options.Trace = true;
    EXPECT_EQ(Run(), kExitSuccess);
    const std::regex traceLine("^[<>]( [0-9A-F]{2}){64}$");
    std::size_t sent = 0;
    std::size_t received = 0;
    for (const auto& line : Lines(err.str())) {
        ASSERT_TRUE(std::regex_match(line, traceLine)) << line;
        (line[0] == '>' ? sent : received)++;
    }
    std::size_t recordedSent = 0;
    for (const auto& r : device->Record()) {
        recordedSent += r.Direction == sim::ReportDirection::ToDevice ? 1 : 0;
    }
    EXPECT_EQ(sent, recordedSent);
    EXPECT_GT(received, 0U);
    EXPECT_EQ(FormatTraceLine('>', std::array<std::uint8_t, 3>{0x81, 0x05, 0xAB}).substr(0, 12),
              "> 81 05 AB 0");
}

TEST_F(CliFixture, ListShowsUpdatableDevicesOnly) {
    options = CliOptions{};
    options.List = true;
    port.AddForeignInterface(0x046D, 0xC52B);
    usb.AddDevice(0x3A7E, 0x6A01);
    usb.AddDevice(0x3A7E, 0x6A11);  // not a drive-mode product
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(out.str(),
              "drive 3a7e:6a01 virtual:usb-3a7e:6a01\nhid 3a7e:6a11 virtual:hid-update-device\n");
}

}  // namespace
}  // namespace tarvex
