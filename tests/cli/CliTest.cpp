// The terminal program's contract, run in-process against the virtual device.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/DeviceChoice.h"
#include "cli/ImageFileCheck.h"
#include "cli/ReportTrace.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/cli/AnswerPipe.h"
#include "tests/update/EngineTestSupport.h"
#include "tests/update/SystemTexts.h"
#include "ui/LocalizedText.h"

namespace tarvex {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The bound a test states for the program to end once it should: generous, never a measurement.
constexpr std::chrono::seconds kEndBound{5};

// The system's notice for a device this user may not open: text 40 (the udev rule) on Linux,
// text 55 on Windows.
std::string PermissionText(const CUiLanguage& language) {
    return LoadLocalizedString(testing::kSystemAccessDeniedText, language);
}

// An output stream that worker threads may write while the test reads it, and that a test can
// wait on.
class CSyncedStream final : public std::ostream {
public:
    CSyncedStream() : std::ostream(&m_Buffer) {}
    std::string str() const { return m_Buffer.Text(); }
    void str(const std::string& text) { m_Buffer.Replace(text); }
    // Whether `part` was written within `bound`.
    bool WaitFor(const std::string& part, std::chrono::milliseconds bound) {
        return m_Buffer.WaitFor(part, bound);
    }

private:
    class CBuffer final : public std::streambuf {
    public:
        std::string Text() const {
            std::lock_guard lock(m_Lock);
            return m_Text;
        }
        void Replace(const std::string& text) {
            std::lock_guard lock(m_Lock);
            m_Text = text;
        }
        bool WaitFor(const std::string& part, std::chrono::milliseconds bound) {
            std::unique_lock lock(m_Lock);
            return m_Changed.wait_for(lock, bound,
                                      [&] { return m_Text.find(part) != std::string::npos; });
        }

    protected:
        int_type overflow(int_type c) override {
            if (c != traits_type::eof()) {
                const char ch = traits_type::to_char_type(c);
                xsputn(&ch, 1);
            }
            return traits_type::not_eof(c);
        }
        std::streamsize xsputn(const char* text, std::streamsize count) override {
            std::lock_guard lock(m_Lock);
            m_Text.append(text, static_cast<std::size_t>(count));
            m_Changed.notify_all();
            return count;
        }

    private:
        mutable std::mutex m_Lock;
        std::condition_variable m_Changed;
        std::string m_Text;
    };
    CBuffer m_Buffer;
};

// A USB list that calls a hook when listed: detection lists it first, also the one that ends a
// run.
class CHookedUsbList final : public CUsbDeviceList {
public:
    explicit CHookedUsbList(CUsbDeviceList& inner) : m_Inner(inner) {}
    std::vector<UsbDeviceInfo> ListUsbDevices() override {
        if (OnList) {
            OnList();
        }
        return m_Inner.ListUsbDevices();
    }
    std::function<void()> OnList;

private:
    CUsbDeviceList& m_Inner;
};

// Lets the first open through (the detection's) and refuses the others as a device node whose
// permissions changed in between would.
class CRefusingLaterOpens final : public CHidPort {
public:
    explicit CRefusingLaterOpens(CHidPort& inner) : m_Inner(inner) {}
    std::vector<HidInterfaceInfo> ListHidInterfaces() override {
        return m_Inner.ListHidInterfaces();
    }
    HidOpenResult OpenHidInterface(const std::string& path) override {
        if (m_Opens.fetch_add(1) == 0) {
            return m_Inner.OpenHidInterface(path);
        }
        return {nullptr, HidOpenError::PermissionDenied};
    }

private:
    CHidPort& m_Inner;
    std::atomic<int> m_Opens{0};
};

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
        {{"--version"}, true, ""},
        {{}, false, "no firmware image"},
        {{"--bogus", "image.dat"}, false, "unknown option '--bogus'"},
        {{"--virtual=usb", "image.dat"}, false, "unknown virtual device 'usb'"},
        {{"a.dat", "b.dat"}, false, "more than one image"},
        {{"--list", "a.dat"}, false, "--list takes no image"},
        {{"--", "-strange-name.dat"}, true, ""},
        {{"--device=/dev/hidraw3", "image.dat"}, true, ""},
        {{"--device=SN-1", "--list"}, true, ""},
        {{"--device=", "image.dat"}, false, "--device needs a node or a serial number"},
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
    const auto chosen =
        ParseCliArguments(std::vector<std::string_view>{"--device=/dev/hidraw3", "x.dat"});
    ASSERT_TRUE(chosen.Options);
    EXPECT_EQ(chosen.Options->Device, "/dev/hidraw3");
    EXPECT_FALSE(chosen.Options->MountAuthentication);
    const auto mountAuth =
        ParseCliArguments(std::vector<std::string_view>{"--mount-auth", "x.dat"});
    ASSERT_TRUE(mountAuth.Options);
    EXPECT_TRUE(mountAuth.Options->MountAuthentication);
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
        return RunCli(options, CliPlatform{*pPort, *pUsb, *language, driveCopy, nullptr, guards},
                      streams, stop);
    }
    // The program on a thread of its own, for a test that interrupts it.
    std::future<int> RunInBackground() {
        return std::async(std::launch::async, [this] { return Run(); });
    }
    // The status of a program run in the background, once it ended within kEndBound.
    std::optional<int> StatusOf(std::future<int>& run) {
        if (run.wait_for(kEndBound) != std::future_status::ready) {
            ADD_FAILURE() << "the program did not end; out: " << out.str() << "; err: " << err.str()
                          << "; the device took " << device->UpdateRequestCount()
                          << " update requests, " << device->DataPacketCount() << " data packets, "
                          << device->FinishCount() << " finish commands";
            stop.store(true);
            device->HoldReplies(false);
            run.wait();
            return std::nullopt;
        }
        return run.get();
    }

    std::filesystem::path folder;
    std::filesystem::path image;
    sim::SampleImageSpec spec;
    std::shared_ptr<sim::CVirtualUpdateDevice> device =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    CHidPort* pPort = &port;
    CUsbDeviceList* pUsb = &usb;
    CFixedUiLanguage english{kLanguageEnglishUs};
    CFixedUiLanguage chinese{kLanguageChineseSimplifiedPrc};
    const CUiLanguage* language = &english;
    CliOptions options;
    RunGuardServices guards;
    DriveCopyServices driveCopy;
    CSyncedStream out;
    CSyncedStream err;
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

TEST_F(CliFixture, ImagesThatCannotBeReadAreNamedWithTheReason) {
    std::filesystem::create_directories(folder / "a folder.dat");
    struct Case {
        std::filesystem::path path;
        std::string line;
    };
    const std::vector<Case> cases = {
        {folder / "nowhere.dat",
         "Firmware image '" + (folder / "nowhere.dat").string() + "' does not exist."},
        {folder / "nowhere" / "image.dat",
         "Firmware image '" + (folder / "nowhere" / "image.dat").string() + "' does not exist."},
        {folder / "a folder.dat",
         "Firmware image '" + (folder / "a folder.dat").string() + "' is not a regular file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        err.str("");
        options.ImagePath = c.path;
        EXPECT_EQ(Run(), kExitUsage);
        EXPECT_EQ(err.str(), c.line + "\n");
    }
    EXPECT_TRUE(device->Record().empty());
}

TEST(ImageFileCheckTest, TheSystemsErrorDecidesTheReason) {
    const std::vector<std::pair<std::errc, ImageFileProblem>> cases = {
        {std::errc::no_such_file_or_directory, ImageFileProblem::Missing},
        {std::errc::not_a_directory, ImageFileProblem::Missing},
        {std::errc::permission_denied, ImageFileProblem::PermissionDenied},
        {std::errc::operation_not_permitted, ImageFileProblem::PermissionDenied},
        {std::errc::is_a_directory, ImageFileProblem::NotRegularFile},
        {std::errc::io_error, ImageFileProblem::Unreadable},
        {std::errc::too_many_symbolic_link_levels, ImageFileProblem::Unreadable},
    };
    for (const auto& [error, problem] : cases) {
        EXPECT_EQ(ClassifyImageFileError(std::make_error_code(error)), problem)
            << std::make_error_code(error).message();
    }
    EXPECT_EQ(DescribeImageFileProblem("/x/a.dat", {ImageFileProblem::PermissionDenied, {}}),
              "Firmware image '/x/a.dat' cannot be read: permission denied (check the file's "
              "permissions and those of the folders above it).");
    EXPECT_EQ(DescribeImageFileProblem("/x/a.dat", {ImageFileProblem::Unreadable,
                                                    std::make_error_code(std::errc::io_error)}),
              "Firmware image '/x/a.dat' cannot be read: " +
                  std::make_error_code(std::errc::io_error).message() + ".");
}

TEST_F(CliFixture, AnAbsentDeviceIsNamed) {
    device->Unplug();
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_THAT(err.str(), HasSubstr("No updatable device"));
}

// Both places where the program learns that it may not open the device say so with the
// system's permission text, in either language: the detection, and the press after a detection
// that could open it.
TEST_F(CliFixture, ADeviceThisUserMayNotOpenGetsThePermissionText) {
    options.AssumeYes = true;
    for (const CUiLanguage* shown :
         {static_cast<const CUiLanguage*>(&english), static_cast<const CUiLanguage*>(&chinese)}) {
        SCOPED_TRACE(shown == &english ? "English" : "Chinese");
        language = shown;
        port.SetOpenError(HidOpenError::PermissionDenied);
        err.str("");
        EXPECT_EQ(Run(), kExitUpdateFailed);
        EXPECT_THAT(err.str(), HasSubstr(PermissionText(*shown) + "\n"));
        EXPECT_THAT(err.str(), Not(HasSubstr("No updatable device")));

        port.SetOpenError(HidOpenError::None);
        err.str("");
        CRefusingLaterOpens refusing(port);
        pPort = &refusing;
        EXPECT_EQ(Run(), kExitUpdateFailed);
        EXPECT_THAT(err.str(), HasSubstr(PermissionText(*shown) + "\n"));
        EXPECT_THAT(err.str(), Not(HasSubstr("could not be opened")));
        pPort = &port;
    }
    EXPECT_TRUE(device->Record().empty()) << "nothing reached the device";
}

// Another program is updating the device: this one says so in the busy text and writes nothing,
// not even the version query.
TEST_F(CliFixture, ADeviceAnotherProgramUpdatesIsLeftAlone) {
    options.AssumeYes = true;
    testing::CFakeDeviceLocks locks;
    locks.SetHeldElsewhere(sim::kVirtualUpdateDevicePath, true);
    guards.pDeviceLocks = &locks;
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_THAT(err.str(), HasSubstr("The device is busy with another update"));
    EXPECT_THAT(err.str(), Not(HasSubstr("could not be opened")));
    EXPECT_TRUE(device->Record().empty()) << "nothing reached the device";

    locks.SetHeldElsewhere(sim::kVirtualUpdateDevicePath, false);
    EXPECT_EQ(Run(), kExitSuccess);
}

// Ctrl-C while the program waits for the device's version: nothing is written, status 3.
TEST_F(CliFixture, CtrlCBeforeTheUpdateRequestWritesNothing) {
    options.AssumeYes = true;
    device->HoldReplies(true);  // the version comes late
    auto run = RunInBackground();
    ASSERT_TRUE(testing::WaitUntil([&] { return device->VersionQueryCount() == 1; }, kEndBound));
    stop.store(true);
    EXPECT_EQ(StatusOf(run), kExitCancelled);
    EXPECT_EQ(device->UpdateRequestCount(), 0U);
    EXPECT_EQ(Lines(out.str()).back(), "Cancelled: no firmware was sent to the device.");
}

// Ctrl-C during the transfer stops it: no finish, status 3, and the last line says the device
// did not get the whole update.
TEST_F(CliFixture, CtrlCDuringTheTransferSaysTheUpdateIsIncomplete) {
    options.AssumeYes = true;
    device->SetPacketFault(5, sim::PacketFault::Silence);  // the transfer waits at packet 5
    auto run = RunInBackground();
    ASSERT_TRUE(testing::WaitUntil([&] { return device->DataPacketCount() == 4; }, kEndBound));
    stop.store(true);
    EXPECT_EQ(StatusOf(run), kExitCancelled);
    EXPECT_EQ(device->FinishCount(), 0U);
    EXPECT_EQ(Lines(out.str()).back(),
              "Cancelled during the transfer: the device did not get the whole update. Run the "
              "update again.");
}

// Ctrl-C that comes once the run has succeeded (here: while its worker refreshes the device
// state after the success message, and held there until the program has seen it) must not turn
// the success into a cancellation.
TEST_F(CliFixture, CtrlCAfterTheRunSucceededStillReportsTheSuccess) {
    options.AssumeYes = true;
    CHookedUsbList hooked(usb);
    pUsb = &hooked;
    std::atomic<bool> fired{false};
    hooked.OnList = [&] {
        if (device->FinishCount() == 1 && !fired.exchange(true)) {
            stop.store(true);
            err.WaitFor("Interrupted", kEndBound);
        }
    };
    auto run = RunInBackground();
    EXPECT_EQ(StatusOf(run), kExitSuccess);
    EXPECT_TRUE(fired.load());
    EXPECT_EQ(Lines(out.str()).back(), "Firmware upgraded successful!");
    EXPECT_EQ(device->ReceivedPayload(), sim::SamplePayload(spec));
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
    // The first three fields as they always were; the serial number after them.
    EXPECT_EQ(out.str(),
              "drive 3a7e:6a01 virtual:usb-3a7e:6a01 serial=\n"
              "hid 3a7e:6a11 virtual:hid-update-device serial=VIRTUAL-6A11\n");
}

TEST(DeviceChoiceTest, ASerialNumberStaysOneFieldAndCanBeGivenAsListed) {
    const UpdatableDevice device{UpdatableDeviceKind::Hid, 0x3A7E, 0x6A11, "/dev/hidraw2",
                                 "AB 1\\2\xC3\xA9"};
    EXPECT_EQ(DeviceLine(device), "hid 3a7e:6a11 /dev/hidraw2 serial=AB\\x201\\x5C2\\xC3\\xA9");
    for (const std::string& choice : {std::string("/dev/hidraw2"), device.SerialNumber,
                                      std::string("AB\\x201\\x5C2\\xC3\\xA9")}) {
        EXPECT_TRUE(MatchesDeviceChoice(device.Node, device.SerialNumber, choice)) << choice;
    }
    for (const std::string& choice :
         {std::string("/dev/hidraw"), std::string("AB"), std::string("/dev/hidraw22")}) {
        EXPECT_FALSE(MatchesDeviceChoice(device.Node, device.SerialNumber, choice)) << choice;
    }
    EXPECT_TRUE(MatchesDeviceChoice("/dev/hidraw2", "", "/dev/hidraw2"));
    EXPECT_TRUE(MatchesDeviceChoice("/dev/hidraw2", "", "")) << "no choice takes any device";
}

// Two update devices and a drive-mode device attached at once.
struct SeveralDevicesFixture : CliFixture {
    void SetUp() override {
        CliFixture::SetUp();
        port.AttachUpdateDeviceAt("virtual:second-update-device", "SECOND-SN", second);
        options.AssumeYes = true;
    }
    std::shared_ptr<sim::CVirtualUpdateDevice> second =
        std::make_shared<sim::CVirtualUpdateDevice>();
};

TEST_F(SeveralDevicesFixture, WithoutAChoiceTheyAreListedAndNothingIsSent) {
    usb.AddDevice(0x3A7E, 0x6A02, "DRIVE-SN");
    EXPECT_EQ(Run(), kExitUsage);
    EXPECT_EQ(out.str(),
              "drive 3a7e:6a02 virtual:usb-3a7e:6a02-DRIVE-SN serial=DRIVE-SN\n"
              "hid 3a7e:6a11 virtual:hid-update-device serial=VIRTUAL-6A11\n"
              "hid 3a7e:6a11 virtual:second-update-device serial=SECOND-SN\n");
    EXPECT_THAT(err.str(), HasSubstr("--device"));
    EXPECT_TRUE(device->Record().empty());
    EXPECT_TRUE(second->Record().empty());
}

TEST_F(SeveralDevicesFixture, TheChosenDeviceAloneIsUpdated) {
    struct Case {
        std::string choice;
        bool second;  // which one is updated
    };
    for (const Case& c : {Case{"SECOND-SN", true}, Case{"virtual:second-update-device", true},
                          Case{"VIRTUAL-6A11", false}, Case{"virtual:hid-update-device", false}}) {
        SCOPED_TRACE(c.choice);
        device->Reset();
        second->Reset();
        options.Device = c.choice;
        EXPECT_EQ(Run(), kExitSuccess) << err.str();
        const auto& chosen = c.second ? second : device;
        const auto& other = c.second ? device : second;
        EXPECT_EQ(chosen->FinishCount(), 1U);
        EXPECT_EQ(chosen->ReceivedPayload(), sim::SamplePayload(spec));
        EXPECT_TRUE(other->Record().empty()) << "reports reached the device not chosen";
    }
}

TEST_F(SeveralDevicesFixture, AChoiceThatMatchesNoneSaysSoAndSendsNothing) {
    options.Device = "/dev/hidraw99";
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_THAT(err.str(), HasSubstr("matches --device=/dev/hidraw99"));
    EXPECT_TRUE(device->Record().empty());
    EXPECT_TRUE(second->Record().empty());

    // --list with a choice lists that device alone.
    options = CliOptions{};
    options.List = true;
    options.Device = "SECOND-SN";
    out.str("");
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(out.str(), "hid 3a7e:6a11 virtual:second-update-device serial=SECOND-SN\n");
}

// A drive-mode device picked among two: only its volume's copy is made; the update device
// attached beside it gets nothing.
TEST_F(SeveralDevicesFixture, ADriveModeDeviceCanBeChosenToo) {
    usb.AddDevice(0x3A7E, 0x6A02, "DRIVE-SN");
    options.Device = "DRIVE-SN";
    // No volume services: the drive copy fails, but it is the drive copy that runs.
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_THAT(err.str(), HasSubstr("No mounted volume"));
    EXPECT_TRUE(device->Record().empty());
    EXPECT_TRUE(second->Record().empty());
}

// Volumes as the test lists them, and the drive-mode devices whose volumes the system can
// tell apart (none: it cannot tie a volume to any device).
class CListedVolumes final : public CVolumeList {
public:
    std::vector<VolumeInfo> ListVolumes() override {
        std::lock_guard lock(m_Lock);
        return Volumes;
    }
    bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) override {
        std::lock_guard lock(m_Lock);
        return std::find(Tied.begin(), Tied.end(), usbDeviceSystemPath) != Tied.end();
    }
    std::vector<VolumeInfo> Volumes;  // set before a run
    std::vector<std::string> Tied;

private:
    std::mutex m_Lock;
};

// Takes note of every file it is asked to write, and writes none.
class CNotingWriter final : public CFileWriter {
public:
    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(m_Lock);
        m_Written.push_back(path);
        return FileWriteResult{FileWriteError::None, FileWriteStep::Open, bytes.size(), {}};
    }
    std::vector<std::filesystem::path> Written() const {
        std::lock_guard lock(m_Lock);
        return m_Written;
    }

private:
    mutable std::mutex m_Lock;
    std::vector<std::filesystem::path> m_Written;
};

// Two drive-mode devices, A and B, each with a volume of the drive-mode size; B is chosen.
struct DriveChoiceFixture : CliFixture {
    void SetUp() override {
        CliFixture::SetUp();
        options.Virtual = VirtualDeviceKind::None;
        options.AssumeYes = true;
        pPort = &noHid;
        usb.AddDevice(0x3A7E, 0x6A01, "A-SN");
        usb.AddDevice(0x3A7E, 0x6A02, "B-SN");
        driveCopy = DriveCopyServices{&volumes, pUsb, &writer, {}};
        driveCopy.VolumeWaitLimit = std::chrono::milliseconds(0);
    }
    static std::string PathOf(const char* serial, const char* product) {
        return std::string("virtual:usb-3a7e:") + product + "-" + serial;
    }

    sim::CVirtualHidPort noHid;
    CListedVolumes volumes;
    CNotingWriter writer;
};

TEST_F(DriveChoiceFixture, AChosenDeviceWhoseVolumeCannotBeToldIsRefusedBeforeAnythingIsWritten) {
    // A's volume comes first and has the size: what a guess by size alone would write.
    volumes.Volumes = {{folder / "a", "A:", kImageDriveCapacity, {}, {}},
                       {folder / "b", "B:", kImageDriveCapacity, {}, {}}};
    options.Device = "B-SN";
    EXPECT_EQ(Run(), kExitUpdateFailed);
    EXPECT_TRUE(writer.Written().empty()) << writer.Written().front();
    EXPECT_THAT(out.str(), HasSubstr("Firmware update failure"));
    EXPECT_THAT(out.str(), Not(HasSubstr("Firmware upgraded successful!")));
    EXPECT_THAT(err.str(), HasSubstr("cannot tell which volume"));
}

TEST_F(DriveChoiceFixture, AChosenDeviceWhoseVolumeIsToldGetsThatVolumeAlone) {
    volumes.Volumes = {{folder / "a", "A:", kImageDriveCapacity, PathOf("A-SN", "6a01"), {}},
                       {folder / "b", "B:", kImageDriveCapacity, PathOf("B-SN", "6a02"), {}}};
    volumes.Tied = {PathOf("A-SN", "6a01"), PathOf("B-SN", "6a02")};
    options.Device = "B-SN";
    EXPECT_EQ(Run(), kExitSuccess) << err.str();
    EXPECT_EQ(writer.Written(), std::vector<std::filesystem::path>{folder / "b" / "1.dat"});
}

TEST_F(DriveChoiceFixture, OneDeviceAloneStillHasItsVolumeFoundBySize) {
    usb.RemoveDevice(0x3A7E, 0x6A02);
    volumes.Volumes = {{folder / "big", "C:", 1 << 30, {}, {}},
                       {folder / "a", "A:", kImageDriveCapacity, {}, {}}};
    EXPECT_EQ(Run(), kExitSuccess) << err.str();
    EXPECT_EQ(writer.Written(), std::vector<std::filesystem::path>{folder / "a" / "1.dat"});
}

}  // namespace
}  // namespace tarvex
