#pragma once
// What the soak test watches of its own process, asked of the system it runs on.
// tests/soak/ProcessFootprint*.cpp for each system.

#include <cstddef>

namespace tarvex::testing {

struct Footprint {
    std::size_t OpenFds = 0;  // open descriptors (Linux) or handles (Windows)
    std::size_t Threads = 0;
    long RssKb = 0;  // resident memory (the working set on Windows)
};

Footprint ReadFootprint();
unsigned long ProcessId();

}  // namespace tarvex::testing
