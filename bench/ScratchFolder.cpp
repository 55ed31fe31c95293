#include "bench/ScratchFolder.h"

#include <cstdio>
#include <random>
#include <string>
#include <system_error>

namespace tarvex::bench {

namespace {
constexpr int kNameAttempts = 16;
}  // namespace

CScratchFolder::CScratchFolder() {
    std::error_code error;
    const auto temporary = std::filesystem::temp_directory_path(error);
    if (error) {
        return;
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "tarvex-bench-%08x%08x", entropy(), entropy());
        // create_directory says false for a folder that exists already: that name is taken by
        // another process, and a fresh one is tried.
        const auto candidate = temporary / name;
        if (std::filesystem::create_directory(candidate, error)) {
            m_Path = candidate;
            return;
        }
        if (error) {
            return;
        }
    }
}

CScratchFolder::~CScratchFolder() {
    if (Made()) {
        std::error_code error;
        std::filesystem::remove_all(m_Path, error);
    }
}

}  // namespace tarvex::bench
