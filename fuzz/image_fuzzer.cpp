// Arbitrary bytes as the firmware image the user picks: the file checks, the selection and
// ImageTotalLength must never let an image reach the device that cannot hold what its header
// declares, and a usable one must be streamed exactly, never past what the file holds.

#include <algorithm>
#include <string>

#include "fuzz/EngineRig.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryFile.h"
#include "hid/ReportLayout.h"
#include "update/FirmwareImage.h"

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::CMemoryFile file;
    file.Replace({data, size});
    const std::filesystem::path path = file.Path();

    const ImageProbe probe = ProbeImageFile(path);
    const bool usable = probe.Refusal == ImageRefusal::None;
    const std::uint64_t payloadStart = std::uint64_t{probe.HeaderOffset} + kImageHeaderSize;
    FUZZ_CHECK(probe.FileSize == size);
    FUZZ_CHECK(usable == (CheckImageLayout(size, probe.HeaderOffset, probe.Fields.PayloadLength) ==
                          ImageRefusal::None));
    FUZZ_CHECK(!usable || payloadStart + probe.Fields.PayloadLength <= size);
    FUZZ_CHECK(!usable ||
               std::equal(probe.Header.begin(), probe.Header.end(), data + probe.HeaderOffset));

    fuzz::CEngineRig rig(path);
    rig.Engine.BeginUpdateRun();
    const int selected = rig.Engine.SelectFirmwareImage(kSendModeReport);
    const auto header = rig.pDevice->ReceivedImageHeader();
    FUZZ_CHECK(selected == (usable ? 1 : 0) && header.has_value() == usable);
    if (!usable) {
        return 0;
    }
    FUZZ_CHECK(std::equal(header->begin(), header->end(), probe.Header.begin()));
    const std::uint32_t total = rig.Engine.ImageTotalLength();
    FUZZ_CHECK(total == probe.Fields.PayloadLength && payloadStart + total <= size);

    // The device acknowledges everything: the run must end in success with exactly the payload.
    const HidReport ack = fuzz::CEngineRig::Acknowledgement();
    for (std::uint32_t i = 0; rig.Engine.UpdateRunActive() && i <= total / kChunkSize + 3; ++i) {
        rig.Engine.DispatchReport(ack);
    }
    const auto received = rig.pDevice->ReceivedPayload();
    FUZZ_CHECK(!rig.Engine.UpdateRunActive() && rig.View.SuccessBoxes == 1);
    FUZZ_CHECK(std::equal(received.begin(), received.end(), data + payloadStart,
                          data + payloadStart + total));
    return 0;
}
