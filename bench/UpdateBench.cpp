// How fast the tool's side of the protocol is, and how much it adds to a transfer that the
// device paces:
// - building the reports of one data chunk;
// - a whole update against the virtual device answering at once: the engine's own cost per
//   chunk (`us_per_chunk`);
// - a whole 256 KiB update against the virtual device answering each packet 1 ms after it
//   arrived: run time over chunks x 1 ms (`paced_ratio`); 1.00 means the tool adds nothing;
// - the same device answering a tight loop of packets with the same latency and no engine at
//   all (`device_ratio`): how close the device's own timing comes, the floor of paced_ratio.
// Every benchmark writes its image into a folder of its own, removed when it ends.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "bench/ScratchFolder.h"
#include "hid/ReportLayout.h"
#include "platform/UiLanguage.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "update/UpdateEngine.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::duration<double, std::micro>;

constexpr std::chrono::milliseconds kPacedLatency{1};
// A bound on one run, so that a run that hangs ends the benchmark with an error instead.
constexpr std::chrono::minutes kRunGuard{2};

std::uint32_t ChunkCount(std::uint32_t payloadLength) {
    return static_cast<std::uint32_t>((payloadLength + kChunkSize - 1) / kChunkSize);
}

// The middle value, in microseconds. A shared machine now and then takes the processor away for
// milliseconds; the mean carries that, the median shows what one round trip usually costs.
double MedianMicroseconds(std::vector<Clock::duration> durations) {
    if (durations.empty()) {
        return 0;
    }
    const auto middle = durations.begin() + static_cast<std::ptrdiff_t>(durations.size() / 2);
    std::nth_element(durations.begin(), middle, durations.end());
    return Microseconds(*middle).count();
}

void BM_EncodeDataChunk(benchmark::State& state) {
    std::array<std::uint8_t, kChunkSize> chunk{};
    for (auto _ : state) {
        auto pieces = SplitForReportRoute(kCommandData, EncodeCommandPacket(kCommandData, chunk));
        benchmark::DoNotOptimize(pieces);
    }
}
BENCHMARK(BM_EncodeDataChunk);

// Answers every question with OK and reports when the run has ended.
class CBenchView final : public CUpdateView {
public:
    explicit CBenchView(std::filesystem::path image) : m_Image(std::move(image)) {}
    void EnableUpdateButton(bool) override {}
    void SetVersionText(const std::string&) override {}
    // Every chunk after the first moves the bar, on the run's worker, right after it was sent.
    void SetProgress(unsigned) override {
        if (m_bTimeChunks) {
            m_ChunkTimes.push_back(Clock::now());
        }
    }
    int ShowPrompt(const std::string&, int) override { return kPromptOk; }
    void ShowSuccessBox(const std::string&, const std::string&) override {}
    std::optional<std::filesystem::path> AskImagePath(const std::string&,
                                                      const std::filesystem::path&) override {
        return m_Image;
    }
    void OnUpdateRunEnded(UpdateOutcome outcome) override {
        std::lock_guard lock(m_Lock);
        m_Outcome = outcome;
        m_Ended.notify_all();
    }
    // The outcome of the run that ended, or nothing when none ended within `limit`.
    std::optional<UpdateOutcome> Wait(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_Lock);
        if (!m_Ended.wait_for(lock, limit, [&] { return m_Outcome.has_value(); })) {
            return std::nullopt;
        }
        return std::exchange(m_Outcome, std::nullopt);
    }

    // When on, the time of each chunk is kept from the next run on (read it once the run ended).
    void TimeChunks(bool on) { m_bTimeChunks = on; }
    void ForgetChunkTimes() { m_ChunkTimes.clear(); }
    // The time between one chunk and the next, for every pair of the runs since the last
    // ForgetChunkTimes.
    std::vector<Clock::duration> ChunkGaps() const {
        std::vector<Clock::duration> gaps;
        for (std::size_t i = 1; i < m_ChunkTimes.size(); ++i) {
            gaps.push_back(m_ChunkTimes[i] - m_ChunkTimes[i - 1]);
        }
        return gaps;
    }

private:
    std::filesystem::path m_Image;
    std::mutex m_Lock;
    std::condition_variable m_Ended;
    std::optional<UpdateOutcome> m_Outcome;
    bool m_bTimeChunks = false;
    std::vector<Clock::time_point> m_ChunkTimes;
};

// The engine with the virtual device as its only HID interface, and an image of
// `payloadLength` bytes in a scratch folder of its own.
class CUpdateRig {
public:
    explicit CUpdateRig(std::uint32_t payloadLength, std::chrono::milliseconds latency)
        : m_View(m_Folder.Path() / "image.dat") {
        sim::SampleImageSpec spec;
        spec.PayloadLength = payloadLength;
        m_bReady = m_Folder.Made() && sim::WriteSampleImage(m_Folder.Path() / "image.dat", spec);
        m_pDevice->SetReplyLatency(latency);
        m_View.TimeChunks(latency.count() > 0);
        m_Port.AttachUpdateDevice(m_pDevice);
        m_Hid.DetectDevice();
    }

    bool Ready() const { return m_bReady; }
    // Polls of the last run: each is a read that waited out its whole time-out.
    std::size_t PollCount() const { return m_pDevice->PollCount(); }
    std::vector<Clock::duration> ChunkGaps() const { return m_View.ChunkGaps(); }

    // One update run from the press of the button to its result; nothing when it did not
    // succeed.
    std::optional<Clock::duration> RunOnce() {
        m_pDevice->Reset();
        m_View.ForgetChunkTimes();
        const auto start = Clock::now();
        if (!m_Engine.OnUsbUpdate() || m_View.Wait(kRunGuard) != UpdateOutcome::Succeeded) {
            return std::nullopt;
        }
        return Clock::now() - start;
    }

private:
    bench::CScratchFolder m_Folder;
    bool m_bReady = false;
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CBenchView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    CUpdateEngine m_Engine{m_Hid, m_View, m_Language};
};

struct WholeUpdates {
    Clock::duration WallTime{};
    std::size_t Polls = 0;
    std::vector<Clock::duration> ChunkGaps;  // timed runs only
};

// Runs whole updates of state.range(0) payload bytes; their wall time and polls in all, or
// nothing after reporting the error.
std::optional<WholeUpdates> RunWholeUpdates(benchmark::State& state,
                                            std::chrono::milliseconds latency) {
    CUpdateRig rig(static_cast<std::uint32_t>(state.range(0)), latency);
    if (!rig.Ready()) {
        state.SkipWithError("cannot write the image into a scratch folder");
        return std::nullopt;
    }
    WholeUpdates total;
    for (auto _ : state) {
        const auto took = rig.RunOnce();
        if (!took) {
            state.SkipWithError("update did not succeed");
            return std::nullopt;
        }
        state.SetIterationTime(std::chrono::duration<double>(*took).count());
        total.WallTime += *took;
        total.Polls += rig.PollCount();
        const auto gaps = rig.ChunkGaps();
        total.ChunkGaps.insert(total.ChunkGaps.end(), gaps.begin(), gaps.end());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    return total;
}

void BM_WholeUpdateAgainstVirtualDevice(benchmark::State& state) {
    const auto total = RunWholeUpdates(state, std::chrono::milliseconds(0));
    if (!total) {
        return;
    }
    const double chunks = static_cast<double>(state.iterations()) *
                          ChunkCount(static_cast<std::uint32_t>(state.range(0)));
    state.counters["us_per_chunk"] = Microseconds(total->WallTime).count() / chunks;
}
BENCHMARK(BM_WholeUpdateAgainstVirtualDevice)->Arg(4096)->Arg(64 * 1024)->UseManualTime();

// One iteration is about 8 s (8192 chunks at 1 ms), so it runs once however short the minimum
// time asked for; --benchmark_repetitions gives the spread.
void BM_PacedUpdateAgainstVirtualDevice(benchmark::State& state) {
    const auto total = RunWholeUpdates(state, kPacedLatency);
    if (!total) {
        return;
    }
    const auto floor = kPacedLatency * static_cast<std::int64_t>(state.iterations()) *
                       ChunkCount(static_cast<std::uint32_t>(state.range(0)));
    state.counters["paced_ratio"] = std::chrono::duration<double>(total->WallTime) / floor;
    state.counters["us_per_chunk_over_pace"] =
        Microseconds(total->WallTime - floor).count() / static_cast<double>(floor / kPacedLatency);
    // Not 0 when some read waited out its time-out although a reply was on its way.
    state.counters["polls"] = static_cast<double>(total->Polls);
    state.counters["median_chunk_us"] = MedianMicroseconds(total->ChunkGaps);
}
BENCHMARK(BM_PacedUpdateAgainstVirtualDevice)
    ->Arg(256 * 1024)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The virtual device alone, as the engine's connection sees it: write one data packet, read
// its acknowledgement, again and again, with the same 1 ms latency as the paced update.
void BM_VirtualDeviceAloneAt1ms(benchmark::State& state) {
    auto device = std::make_shared<sim::CVirtualUpdateDevice>();
    device->SetReplyLatency(kPacedLatency);
    sim::CVirtualHidPort port;
    port.AttachUpdateDevice(device);
    const auto opened = port.OpenHidInterface(sim::kVirtualUpdateDevicePath);
    if (!opened.Connection) {
        state.SkipWithError("cannot open the virtual device");
        return;
    }
    const std::array<std::uint8_t, kChunkSize> chunk{};
    const ReportBody body =
        SplitForReportRoute(kCommandData, EncodeCommandPacket(kCommandData, chunk)).front();
    HidReport request{};
    request[0] = kOutputReportId;
    std::copy(body.begin(), body.end(), request.begin() + 1);

    const auto roundTrips = state.range(0);
    Clock::duration total{};
    Clock::duration late{};
    std::vector<Clock::duration> trips;
    trips.reserve(static_cast<std::size_t>(roundTrips));
    for (auto _ : state) {
        device->Reset();
        const auto start = Clock::now();
        for (std::int64_t sentCount = 0; sentCount < roundTrips; ++sentCount) {
            const auto sent = Clock::now();
            HidReport reply{};
            if (opened.Connection->WriteOutputReport(request) != HidIoStatus::Ok ||
                opened.Connection->ReadInputReport(reply, kReadTimeoutDuringTransfer) !=
                    HidIoStatus::Ok) {
                state.SkipWithError("the device did not answer within the read time-out");
                return;
            }
            const auto trip = Clock::now() - sent;
            late += trip - kPacedLatency;
            trips.push_back(trip);
        }
        const auto took = Clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        total += took;
    }
    const auto tripCount = static_cast<std::int64_t>(trips.size());
    state.counters["device_ratio"] =
        std::chrono::duration<double>(total) / (kPacedLatency * tripCount);
    state.counters["us_late_per_reply"] =
        Microseconds(late).count() / static_cast<double>(tripCount);
    state.counters["median_trip_us"] = MedianMicroseconds(std::move(trips));
}
BENCHMARK(BM_VirtualDeviceAloneAt1ms)
    ->Arg(2048)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
