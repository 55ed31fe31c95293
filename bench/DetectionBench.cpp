// How long one detection takes when the update device is listed after many HID interfaces of
// other products (keyboards, mice, headsets, hubs), each of which detection opens and closes on
// the way: `us_per_detection`, wall microseconds.

#include <benchmark/benchmark.h>

#include <chrono>

#include "hid/Hid.h"
#include "sim/VirtualHidPort.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kForeignVendorId = 0x1D50;

void BM_DetectDeviceAmongForeignInterfaces(benchmark::State& state) {
    sim::CVirtualHidPort port;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        port.AddForeignInterface(kForeignVendorId, static_cast<std::uint16_t>(0x6000 + i));
    }
    port.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
    sim::CVirtualUsbDeviceList usb;
    CHid hid(port, usb);

    const auto start = Clock::now();
    for (auto _ : state) {
        if (!hid.DetectDevice()) {
            state.SkipWithError("the update device was not found");
            return;
        }
    }
    const auto took = Clock::now() - start;
    state.counters["us_per_detection"] = std::chrono::duration<double, std::micro>(took).count() /
                                         static_cast<double>(state.iterations());
}
BENCHMARK(BM_DetectDeviceAmongForeignInterfaces)->Arg(0)->Arg(64);

}  // namespace
}  // namespace tarvex
