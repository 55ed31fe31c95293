// Arbitrary 64-byte input reports from a device that may be faulty or not ours, dispatched during
// an update run over a real image. The first byte picks the image; the rest is cut into reports.
// Neither a crash nor a success the device has not earned: the success box only after the whole
// payload went out and the finish command was written, the success notice only for the device's
// own memory reply 0x32 during the run (the device may declare the update done that way).

#include <algorithm>
#include <array>
#include <string>

#include "fuzz/EngineRig.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryFile.h"
#include "sim/SampleImage.h"

using namespace tarvex;

namespace {

// A long payload, one of 32 bytes or less (followed by the extra packet), one whose last chunk
// carries bytes past the payload, and one behind a longer lead section.
const std::array<sim::SampleImageSpec, 4> kImages = {{
    {.PayloadLength = 100, .Seed = 1},
    {.PayloadLength = 20, .Seed = 2},
    {.PayloadLength = 64, .TrailingBytes = 40, .Seed = 3},
    {.LeadSize = 300, .PayloadLength = 200, .Seed = 4},
}};

// Each image as a memory file, written once per process.
const fuzz::CMemoryFile& Image(std::size_t index) {
    static const std::vector<fuzz::CMemoryFile> files = [] {
        std::vector<fuzz::CMemoryFile> all;
        for (const auto& spec : kImages) {
            all.emplace_back(sim::BuildSampleImage(spec));
        }
        return all;
    }();
    return files[index];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t image = data[0] % kImages.size();
    const std::vector<std::uint8_t> payload = sim::SamplePayload(kImages[image]);
    fuzz::CEngineRig rig(Image(image).Path());
    rig.Engine.BeginUpdateRun();

    for (std::size_t at = 1; at < size; at += kHidReportSize) {
        // As ReadReport delivers it: report bytes 1 to 63, then a zero.
        HidReport report{};
        std::copy(data + at + 1, data + std::min(size, at + kHidReportSize), report.begin());
        const DeviceReply reply = DecodeDeviceReply(report);
        const bool declaredDone = rig.Engine.UpdateRunActive() && reply.Marked &&
                                  reply.Opcode == kReplyMemory &&
                                  reply.ReplyCode == kMemoryReplySuccess;
        const int prompts = rig.View.SuccessPrompts;
        const int boxes = rig.View.SuccessBoxes;
        const std::size_t finishes = rig.pDevice->FinishCount();

        rig.Engine.DispatchReport(report);

        const bool finished = rig.pDevice->FinishCount() == finishes + 1;
        FUZZ_CHECK(rig.View.SuccessPrompts == prompts || (declaredDone && finished));
        if (rig.View.SuccessBoxes != boxes) {
            const std::uint32_t total = rig.Engine.Shared().TotalLength.load();
            FUZZ_CHECK(finished && total == payload.size() &&
                       rig.pDevice->ReceivedPayload() == payload &&
                       rig.pDevice->ReceivedDataBytes().size() >= total);
        }
    }
    return 0;
}
