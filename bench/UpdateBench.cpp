// How fast the tool's side of the protocol is: building the reports of one data chunk, and a
// whole update against the virtual device answering at once (the engine's own cost per chunk,
// since a real device paces the transfer).

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "hid/ReportLayout.h"
#include "platform/UiLanguage.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "update/UpdateEngine.h"

namespace tarvex {
namespace {

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
    void SetProgress(unsigned) override {}
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
    UpdateOutcome Wait() {
        std::unique_lock lock(m_Lock);
        m_Ended.wait(lock, [&] { return m_Outcome.has_value(); });
        return *std::exchange(m_Outcome, std::nullopt);
    }

private:
    std::filesystem::path m_Image;
    std::mutex m_Lock;
    std::condition_variable m_Ended;
    std::optional<UpdateOutcome> m_Outcome;
};

void BM_WholeUpdateAgainstVirtualDevice(benchmark::State& state) {
    sim::SampleImageSpec spec;
    spec.PayloadLength = static_cast<std::uint32_t>(state.range(0));
    const auto image = std::filesystem::temp_directory_path() / "tarvex-bench-image.dat";
    if (!sim::WriteSampleImage(image, spec)) {
        state.SkipWithError("cannot write the image");
        return;
    }
    auto device = std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort port;
    sim::CVirtualUsbDeviceList usb;
    port.AttachUpdateDevice(device);
    CHid hid(port, usb);
    CBenchView view(image);
    CFixedUiLanguage language(kLanguageEnglishUs);
    CUpdateEngine engine(hid, view, language);
    hid.DetectDevice();
    for (auto _ : state) {
        device->Reset();
        if (!engine.OnUsbUpdate() || view.Wait() != UpdateOutcome::Succeeded) {
            state.SkipWithError("update did not succeed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    std::filesystem::remove(image);
}
BENCHMARK(BM_WholeUpdateAgainstVirtualDevice)->Arg(4096)->Arg(64 * 1024)->UseRealTime();

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
