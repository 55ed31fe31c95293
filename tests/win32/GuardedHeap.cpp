#include "tests/win32/GuardedHeap.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace tarvex::testing {

namespace {

// Blocks handed out while the guard was on, live or freed; fixed arrays, because the heap cannot
// use itself.
constexpr std::size_t kMostBlocks = 1 << 15;

std::atomic<bool> g_bGuarding{false};
std::atomic_flag g_Lock = ATOMIC_FLAG_INIT;
void* g_Live[kMostBlocks];
std::size_t g_LiveCount = 0;
struct FreedBlock {
    const char* Start;
    std::size_t Length;
};
FreedBlock g_Freed[kMostBlocks];
std::size_t g_FreedCount = 0;

class CSpin {
public:
    CSpin() {
        while (g_Lock.test_and_set(std::memory_order_acquire)) {
            ::SwitchToThread();
        }
    }
    ~CSpin() { g_Lock.clear(std::memory_order_release); }
};

LONG WINAPI ReportFaultOnFreedMemory(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        const auto* address = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        for (std::size_t i = 0; i < g_FreedCount; ++i) {
            if (address >= g_Freed[i].Start && address < g_Freed[i].Start + g_Freed[i].Length) {
                std::fprintf(stderr, "\nFAILED: memory used after it was freed (address %p)\n",
                             static_cast<const void*>(address));
                std::fflush(stderr);
                ::ExitProcess(3);
            }
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void* Allocate(std::size_t size) {
    if (size == 0) {
        size = 1;
    }
    if (g_bGuarding.load()) {
        CSpin lock;
        if (g_LiveCount < kMostBlocks && g_FreedCount < kMostBlocks) {
            void* block = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            if (block != nullptr) {
                g_Live[g_LiveCount++] = block;
                return block;
            }
        }
    }
    return std::malloc(size);
}

void Release(void* block) {
    if (block == nullptr) {
        return;
    }
    {
        CSpin lock;
        for (std::size_t i = 0; i < g_LiveCount; ++i) {
            if (g_Live[i] != block) {
                continue;
            }
            g_Live[i] = g_Live[--g_LiveCount];
            MEMORY_BASIC_INFORMATION region{};
            ::VirtualQuery(block, &region, sizeof(region));
            // Decommitted but still reserved: the address is never handed out again.
            ::VirtualFree(block, 0, MEM_DECOMMIT);
            if (g_FreedCount < kMostBlocks) {
                g_Freed[g_FreedCount++] = {static_cast<const char*>(block), region.RegionSize};
            }
            return;
        }
    }
    std::free(block);
}

}  // namespace

void GuardFreedMemory(bool on) {
    static const bool installed = [] {
        ::AddVectoredExceptionHandler(1, ReportFaultOnFreedMemory);
        return true;
    }();
    (void)installed;
    g_bGuarding.store(on);
}

}  // namespace tarvex::testing

// The whole program's operator new and delete (all of the replaceable forms without an
// alignment), so that none of the library's own is linked beside them.
void* operator new(std::size_t size) {
    if (void* block = tarvex::testing::Allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tarvex::testing::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return tarvex::testing::Allocate(size);
}
void operator delete(void* block) noexcept {
    tarvex::testing::Release(block);
}
void operator delete[](void* block) noexcept {
    tarvex::testing::Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    tarvex::testing::Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    tarvex::testing::Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    tarvex::testing::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    tarvex::testing::Release(block);
}
