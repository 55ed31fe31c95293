#include "hid/ReportSenders.h"

namespace tarvex {

HidIoStatus SendRequest(CHid& hid, std::uint8_t code, std::uint8_t argument) {
    return hid.WriteReport(EncodeRequest(code, argument));
}

HidIoStatus SendCommand(CHid& hid, std::uint8_t sendMode, std::uint8_t command,
                        std::span<const std::uint8_t> payload) {
    if (sendMode != kSendModeReport) {
        return HidIoStatus::Failed;
    }
    if (command != kCommandData && payload.size() > kMaxCommandPayload) {
        return HidIoStatus::Failed;
    }
    return hid.WriteReportSequence(
        SplitForReportRoute(command, EncodeCommandPacket(command, payload)));
}

HidIoStatus SendDataPacket(CHid& hid, std::uint8_t sendMode, std::span<const std::uint8_t> chunk) {
    return SendCommand(hid, sendMode, kCommandData, chunk);
}

HidIoStatus SendImageHeader(CHid& hid, std::uint8_t sendMode,
                            std::span<const std::uint8_t, kImageHeaderSize> header) {
    const auto wire = ImageHeaderForDevice(header);
    return SendCommand(hid, sendMode, kCommandImageHeader, wire);
}

}  // namespace tarvex
