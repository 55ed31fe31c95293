#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/soak/ProcessFootprint.h"

namespace tarvex::testing {

namespace {

long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stol(line.substr(name.size() + 1));
        }
    }
    return -1;
}

}  // namespace

Footprint ReadFootprint() {
    Footprint footprint;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++footprint.OpenFds;
    }
    footprint.Threads = static_cast<std::size_t>(StatusField("Threads"));
    footprint.RssKb = StatusField("VmRSS");
    return footprint;
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace tarvex::testing
