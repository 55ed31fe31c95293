#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include "tests/soak/ProcessFootprint.h"

namespace tarvex::testing {

namespace {

std::size_t ThreadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

}  // namespace

Footprint ReadFootprint() {
    Footprint footprint;
    DWORD handles = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &handles)) {
        footprint.OpenFds = handles;
    }
    footprint.Threads = ThreadCount();
    PROCESS_MEMORY_COUNTERS memory{};
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory))) {
        footprint.RssKb = static_cast<long>(memory.WorkingSetSize / 1024);
    }
    return footprint;
}

unsigned long ProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace tarvex::testing
