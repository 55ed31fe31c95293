// 1,000 consecutive updates in one process against the virtual device, with the real engine and
// its worker threads, failures, declined questions, refused images and unplugs mixed in by a
// fixed-seed generator. Every successful run must deliver exactly the image's payload, and the
// open descriptors, threads and memory of the process must not grow with the number of runs.

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "hid/Hid.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/soak/ProcessFootprint.h"
#include "tests/update/EngineTestSupport.h"
#include "update/UpdateEngine.h"

namespace tarvex::testing {
namespace {

constexpr int kRuns = 1000;
constexpr int kWarmUpRuns = 100;
constexpr std::uint32_t kSeed = 0x50A6;
// What the allocator may keep after a warm-up without anything leaking (arenas, free lists).
constexpr long kRssToleranceKb = 4096;

// AddressSanitizer holds freed memory in quarantine and ThreadSanitizer keeps shadow memory and
// access history: under them the resident size grows without any leak, so it is not compared
// (LeakSanitizer looks for leaks in the asan build instead).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARVEX_SOAK_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVEX_SOAK_UNDER_SANITIZER 1
#endif
#ifdef TARVEX_SOAK_UNDER_SANITIZER
constexpr bool kCompareRss = false;
#else
constexpr bool kCompareRss = true;
#endif

// Images of every chunking shape: one of 32 bytes or less (plus the extra packet), exactly one
// chunk, a last chunk that carries bytes past the payload, longer lead sections.
const std::vector<sim::SampleImageSpec> kImages = {
    {.PayloadLength = 20, .Seed = 1},
    {.PayloadLength = 32, .Seed = 2},
    {.PayloadLength = 100, .TrailingBytes = 40, .Seed = 3},
    {.LeadSize = 7, .PayloadLength = 1000, .Seed = 4},
    {.LeadSize = 513, .PayloadLength = 2500, .TrailingBytes = 3, .Seed = 5},
};

enum class RunKind { Success, FailureReply, Unplug, Declined, Cancelled, RefusedImage };
constexpr std::size_t kRunKinds = 6;
// Half of the runs succeed; the rest spread over the ways a run can end otherwise.
constexpr RunKind kKindTable[] = {RunKind::Success,     RunKind::Success,  RunKind::Success,
                                  RunKind::Success,     RunKind::Success,  RunKind::FailureReply,
                                  RunKind::Unplug,      RunKind::Declined, RunKind::Cancelled,
                                  RunKind::RefusedImage};

UpdateOutcome ExpectedOutcome(RunKind kind) {
    switch (kind) {
        case RunKind::Success:
            return UpdateOutcome::Succeeded;
        case RunKind::FailureReply:
        case RunKind::Unplug:
            return UpdateOutcome::Failed;
        case RunKind::Declined:
        case RunKind::Cancelled:
            return UpdateOutcome::Cancelled;
        case RunKind::RefusedImage:
            return UpdateOutcome::ImageRefused;
    }
    return UpdateOutcome::Failed;
}

// Packets the device answers in a whole run: the update request, the header, the data packets
// (a payload of 32 bytes or less goes out as two, the second holding what lies behind it).
std::size_t AnsweredPackets(std::uint32_t payloadLength) {
    const std::size_t chunks = (payloadLength + kChunkSize - 1) / kChunkSize;
    return 2 + (payloadLength <= kChunkSize ? 2 : chunks);
}

// Answers as the current run's plan says and hands the outcome of each run to the test. Keeps
// counters only, so that the view itself does not grow over a thousand runs.
class CSoakView final : public CUpdateView {
public:
    void Answer(std::optional<std::filesystem::path> image, int question) {
        std::lock_guard lock(m_Lock);
        m_Image = std::move(image);
        m_QuestionAnswer = question;
    }

    void EnableUpdateButton(bool) override {}
    void SetVersionText(const std::string&) override {}
    void SetProgress(unsigned) override {}
    int ShowPrompt(const std::string&, int mode) override {
        std::lock_guard lock(m_Lock);
        return mode == kPromptQuestion ? m_QuestionAnswer : kPromptOk;
    }
    void ShowSuccessBox(const std::string&, const std::string&) override {
        std::lock_guard lock(m_Lock);
        ++m_SuccessBoxes;
    }
    std::optional<std::filesystem::path> AskImagePath(const std::string&,
                                                      const std::filesystem::path&) override {
        std::lock_guard lock(m_Lock);
        return m_Image;
    }
    void OnUpdateRunEnded(UpdateOutcome outcome) override {
        std::lock_guard lock(m_Lock);
        m_Outcome = outcome;
        m_Ended.notify_all();
    }

    std::optional<UpdateOutcome> WaitForRunEnd() {
        std::unique_lock lock(m_Lock);
        if (!m_Ended.wait_for(lock, kHangGuard, [&] { return m_Outcome.has_value(); })) {
            return std::nullopt;
        }
        return std::exchange(m_Outcome, std::nullopt);
    }
    int SuccessBoxes() const {
        std::lock_guard lock(m_Lock);
        return m_SuccessBoxes;
    }

private:
    mutable std::mutex m_Lock;
    std::condition_variable m_Ended;
    std::optional<std::filesystem::path> m_Image;
    int m_QuestionAnswer = kPromptOk;
    std::optional<UpdateOutcome> m_Outcome;
    int m_SuccessBoxes = 0;
};

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder =
            std::filesystem::temp_directory_path() / ("tarvex-soak-" + std::to_string(ProcessId()));
        std::filesystem::create_directories(m_Folder);
        for (std::size_t i = 0; i < kImages.size(); ++i) {
            ASSERT_TRUE(sim::WriteSampleImage(ImagePath(i), kImages[i]));
            m_Payloads.push_back(sim::SamplePayload(kImages[i]));
        }
        WriteUnusableImages();
        m_Port.AttachUpdateDevice(m_pDevice);
        m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language);
    }
    void TearDown() override {
        m_pEngine.reset();  // joins every worker
        std::filesystem::remove_all(m_Folder);
    }

    std::filesystem::path ImagePath(std::size_t index) const {
        return m_Folder / ("image-" + std::to_string(index) + ".dat");
    }

    // A file too short for its file header, one whose payload is declared empty, and one that
    // ends a byte before its payload does.
    void WriteUnusableImages() {
        const auto write = [&](const std::vector<std::uint8_t>& bytes) {
            const auto path = m_Folder / ("unusable-" + std::to_string(m_Unusable.size()) + ".dat");
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            m_Unusable.push_back(path);
        };
        auto image = sim::BuildSampleImage(kImages[2]);
        write({image.begin(), image.begin() + 15});
        write(sim::BuildSampleImage({.PayloadLength = 0}));
        image = sim::BuildSampleImage(kImages[3]);
        image.resize(image.size() - 1);
        write(image);
    }

    // Sets up the device and the window for one run of `kind` and returns the image it uses.
    std::size_t Prepare(RunKind kind, std::mt19937& random) {
        const std::size_t image = random() % kImages.size();
        const std::size_t packet = random() % AnsweredPackets(kImages[image].PayloadLength);
        m_pDevice->Reset();
        m_pDevice->ClearFaults();
        switch (kind) {
            case RunKind::FailureReply:
                m_pDevice->SetPacketFault(packet, sim::PacketFault::FailureReply,
                                          random() % 2 ? kReplyCodeFailure : kReplyCodeFailureAlt);
                break;
            case RunKind::Unplug:
                m_pDevice->SetPacketFault(packet, sim::PacketFault::Disappear);
                break;
            default:
                break;
        }
        const bool declined = kind == RunKind::Declined;
        if (kind == RunKind::Cancelled) {
            m_View.Answer(std::nullopt, kPromptOk);
        } else if (kind == RunKind::RefusedImage) {
            m_View.Answer(m_Unusable[random() % m_Unusable.size()], kPromptOk);
        } else {
            m_View.Answer(ImagePath(image), declined ? kPromptCancel : kPromptOk);
        }
        return image;
    }

    // The device comes back after an unplug, and the window hears of it as it would.
    void Replug() {
        m_pDevice->Plug();
        m_pEngine->OnDeviceChange(kDeviceArrival);
    }

    // Whether every worker has returned (the version query an arrival starts, too).
    bool WaitForWorkers() {
        return WaitUntil([&] { return m_pEngine->RunningWorkers() == 0; });
    }

    // What the process holds once the threads of returned workers have left it too; a thread
    // takes a moment to go after its worker has returned.
    Footprint QuietFootprint(std::size_t threadsBeforeAnyRun) {
        WaitUntil([&] { return ReadFootprint().Threads <= threadsBeforeAnyRun; });
        return ReadFootprint();
    }

    std::filesystem::path m_Folder;
    std::vector<std::vector<std::uint8_t>> m_Payloads;
    std::vector<std::filesystem::path> m_Unusable;
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CSoakView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine;
};

TEST_F(SoakTest, ThousandUpdatesDeliverExactPayloadsAndHoldNothingBack) {
    std::mt19937 random(kSeed);
    // ThreadSanitizer starts a helper thread with the first thread a program creates: let it do
    // so now, so that the count before any run includes it.
    std::thread([] {}).join();
    const std::size_t threadsAtStart = ReadFootprint().Threads;
    m_pEngine->Initialise();
    ASSERT_TRUE(WaitForWorkers());
    std::map<RunKind, int> kindsRun;
    Footprint afterWarmUp;

    for (int run = 1; run <= kRuns; ++run) {
        const RunKind kind = kKindTable[random() % std::size(kKindTable)];
        const std::size_t image = Prepare(kind, random);
        const int successBoxes = m_View.SuccessBoxes();
        ASSERT_TRUE(m_pEngine->OnUsbUpdate()) << "run " << run;
        const auto outcome = m_View.WaitForRunEnd();
        ASSERT_TRUE(outcome.has_value()) << "run " << run << " did not end";
        ASSERT_EQ(*outcome, ExpectedOutcome(kind))
            << "run " << run << ": " << ToString(*outcome) << " with image " << image;

        const bool succeeded = kind == RunKind::Success;
        ASSERT_EQ(m_View.SuccessBoxes(), successBoxes + (succeeded ? 1 : 0)) << "run " << run;
        if (succeeded) {
            ASSERT_EQ(m_pDevice->ReceivedPayload(), m_Payloads[image]) << "run " << run;
            ASSERT_EQ(m_pDevice->FinishCount(), 1u) << "run " << run;
        } else if (kind != RunKind::FailureReply && kind != RunKind::Unplug) {
            ASSERT_FALSE(m_pDevice->ReceivedImageHeader().has_value()) << "run " << run;
        }
        if (kind == RunKind::Unplug) {
            Replug();
        }
        ++kindsRun[kind];
        ASSERT_TRUE(WaitForWorkers()) << "run " << run;
        if (run == kWarmUpRuns) {
            afterWarmUp = QuietFootprint(threadsAtStart);
        }
    }

    const Footprint atEnd = QuietFootprint(threadsAtStart);
    std::cout << "after " << kWarmUpRuns << " runs: " << afterWarmUp.OpenFds << " fds, "
              << afterWarmUp.Threads << " threads, " << afterWarmUp.RssKb << " kB; after " << kRuns
              << " runs: " << atEnd.OpenFds << " fds, " << atEnd.Threads << " threads, "
              << atEnd.RssKb << " kB; runs of each kind:";
    for (const auto& [kind, count] : kindsRun) {
        std::cout << " " << count;
    }
    std::cout << "\n";
    EXPECT_EQ(atEnd.OpenFds, afterWarmUp.OpenFds);
    EXPECT_EQ(atEnd.Threads, afterWarmUp.Threads);
    if (kCompareRss) {
        EXPECT_LE(atEnd.RssKb, afterWarmUp.RssKb + kRssToleranceKb);
    } else {
        std::cout << "resident size not compared: a sanitizer keeps freed memory\n";
    }
    EXPECT_EQ(kindsRun.size(), kRunKinds) << "every kind of run took place";
}

}  // namespace
}  // namespace tarvex::testing
