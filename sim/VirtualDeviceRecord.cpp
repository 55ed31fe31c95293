// What a test observes of the virtual update device: the record of reports both ways, the
// counters, and the payload and image header as the device received them.

#include "sim/VirtualUpdateDevice.h"

#include <algorithm>

#include "sim/VirtualDevicePacket.h"

namespace tarvex::sim {

std::vector<std::uint8_t> CVirtualUpdateDevice::ReceivedPayload() const {
    std::lock_guard lock(m_Lock);
    if (!m_ImageHeader) {
        return m_DataBytes;
    }
    const std::size_t payloadLength = m_ImageHeader->Words[kHeaderPayloadLengthWord];
    const std::size_t kept = std::min(payloadLength, m_DataBytes.size());
    return {m_DataBytes.begin(), m_DataBytes.begin() + static_cast<std::ptrdiff_t>(kept)};
}

std::vector<std::uint8_t> CVirtualUpdateDevice::ReceivedDataBytes() const {
    std::lock_guard lock(m_Lock);
    return m_DataBytes;
}

std::optional<std::vector<std::uint8_t>> CVirtualUpdateDevice::ReceivedImageHeader() const {
    std::lock_guard lock(m_Lock);
    if (!m_ImageHeader) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> fileOrder;
    fileOrder.reserve(kImageHeaderSize);
    for (const std::uint32_t word : m_ImageHeader->Words) {
        for (std::size_t shift = 0; shift < 32; shift += 8) {
            fileOrder.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    fileOrder.insert(fileOrder.end(), m_ImageHeader->DeviceBytes.begin(),
                     m_ImageHeader->DeviceBytes.end());
    return fileOrder;
}

std::vector<RecordedReport> CVirtualUpdateDevice::Record() const {
    std::lock_guard lock(m_Lock);
    return m_Record;
}

std::size_t CVirtualUpdateDevice::PollCount() const {
    std::lock_guard lock(m_Lock);
    return m_PollCount;
}

std::size_t CVirtualUpdateDevice::DataPacketCount() const {
    std::lock_guard lock(m_Lock);
    return m_DataPacketCount;
}

std::size_t CVirtualUpdateDevice::FinishCount() const {
    std::lock_guard lock(m_Lock);
    return m_FinishCount;
}

std::size_t CVirtualUpdateDevice::VersionQueryCount() const {
    std::lock_guard lock(m_Lock);
    return m_VersionQueryCount;
}

std::size_t CVirtualUpdateDevice::UpdateRequestCount() const {
    std::lock_guard lock(m_Lock);
    return m_UpdateRequestCount;
}

void CVirtualUpdateDevice::Reset() {
    std::lock_guard lock(m_Lock);
    m_Record.clear();
    m_DataBytes.clear();
    m_ImageHeader.reset();
    m_PollCount = 0;
    m_DataPacketCount = 0;
    m_FinishCount = 0;
    m_VersionQueryCount = 0;
    m_UpdateRequestCount = 0;
    m_AnsweredPackets = 0;
    m_PartialPacket.clear();
    m_PartialExpected = 0;
}

}  // namespace tarvex::sim
