#pragma once
// The record of the running transfer. Touched only by the thread that holds the engine's
// receive lock (the receive loop that read the reply being handled).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

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
    // The image as the user chose it, read from the file once at the choice: its bytes from the
    // start (lead section, ImageHeader, payload) up to the end of the transfer's last chunk, or
    // of the file. The run sends from here only. Empty outside a run.
    std::vector<std::uint8_t> Image;
    std::uint32_t HeaderOffset = 0;  // the payload starts 28 bytes after it
    std::uint32_t ImageVersion = 0;
    std::uint32_t PayloadLength = 0;
    std::uint32_t TargetAddress = 0;
    std::uint32_t BytesSent = 0;
    ImageHeaderBytes HeaderCopy{};
    ImageHeaderBytes HeaderRead{};

    // The next chunk: up to 32 bytes of the held image from where the last one ended (the
    // payload's start for the first), fewer where the held bytes end.
    std::span<const std::uint8_t> NextChunk() const;
};

}  // namespace tarvex
