#pragma once
// A file that lives in memory (memfd) and is opened by path like any other, for the image the
// fuzz targets hand to the engine: no folder to create or clean up, nothing left on disk after a
// crash. Rewriting it per input costs no disk I/O.

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <span>
#include <string>
#include <utility>

#include "fuzz/FuzzCheck.h"

namespace tarvex::fuzz {

class CMemoryFile {
public:
    explicit CMemoryFile(std::span<const std::uint8_t> content = {})
        : m_hFile(memfd_create("tarvex-fuzz-image", 0)) {
        FUZZ_CHECK(m_hFile >= 0);
        Replace(content);
    }
    CMemoryFile(CMemoryFile&& other) noexcept : m_hFile(std::exchange(other.m_hFile, -1)) {}
    CMemoryFile& operator=(CMemoryFile&&) = delete;
    ~CMemoryFile() {
        if (m_hFile >= 0) {
            close(m_hFile);
        }
    }

    void Replace(std::span<const std::uint8_t> content) {
        FUZZ_CHECK(ftruncate(m_hFile, 0) == 0);
        FUZZ_CHECK(pwrite(m_hFile, content.data(), content.size(), 0) ==
                   static_cast<ssize_t>(content.size()));
    }
    // Opening this path opens the file afresh, at offset 0.
    std::filesystem::path Path() const { return "/proc/self/fd/" + std::to_string(m_hFile); }

private:
    int m_hFile;
};

}  // namespace tarvex::fuzz
