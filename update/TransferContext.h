#pragma once
// The record of the running transfer. Touched only by the thread that holds the engine's
// receive lock (the receive loop that read the reply being handled).

#include <array>
#include <cstdint>
#include <fstream>

#include "update/FirmwareImage.h"

namespace tarvex {

// TransferState values.
// A run has started but this run has not sent an image header yet: acknowledgements are ignored,
// so that neither the last run's state 4 (success) nor its state 1 (stream the last image) can be
// reached by a device that acknowledges the update request instead of answering update ready.
inline constexpr std::uint32_t kStateNoImage = 0;
inline constexpr std::uint32_t kStateHeaderSent = 1;  // waiting for the first acknowledgement
inline constexpr std::uint32_t kStateSendingPayload = 2;
inline constexpr std::uint32_t kStatePayloadSent = 4;  // also "no transfer", the start value

const char* TransferStateName(std::uint32_t state);

struct TransferContext {
    std::ifstream File;  // the image while a transfer reads it
    std::array<std::uint8_t, 152> Chunk{};
    std::uint32_t ImageVersion = 0;
    std::uint32_t PayloadLength = 0;
    std::uint32_t TargetAddress = 0;
    std::uint32_t BytesSent = 0;
    ImageHeaderBytes HeaderCopy{};
    ImageHeaderBytes HeaderRead{};
};

}  // namespace tarvex
