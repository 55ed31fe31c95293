#pragma once
// SHA-256, for the history's fingerprint of an image: the user can compare it with the one the
// firmware's publisher gives.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarvex {

class CSha256 {
public:
    CSha256();
    void Add(std::span<const std::uint8_t> bytes);
    // The digest of everything added, as 64 lower-case hexadecimal digits. Ends the object's use.
    std::string FinishHex();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_State;
    std::array<std::uint8_t, 64> m_Block{};
    std::size_t m_BlockUsed = 0;
    std::uint64_t m_TotalBytes = 0;
};

}  // namespace tarvex
