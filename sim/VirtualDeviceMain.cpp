// tarvex-virtual-device: the virtual update device as a real device of this machine's kernel
// (uhid or a USB gadget), or a drive-mode mass-storage gadget. See --help.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/KernelDeviceBridge.h"
#include "sim/UpdateDeviceDescriptor.h"
#include "sim/VirtualDeviceOptions.h"
#include "sim/kernel/ConfigfsGadget.h"
#include "sim/kernel/HidGadgetEndpoint.h"
#include "sim/kernel/SysfsDeviceLookup.h"
#include "sim/kernel/UhidEndpoint.h"

namespace {

using namespace tarvex;
using namespace tarvex::sim;

constexpr int kExitOk = 0;
constexpr int kExitNoDevice = 1;
constexpr int kExitUsage = 2;
// How long the host may take to make its node for the new device (0.5 s is usual for a
// gadget under emulation); only a guard against one that never comes.
constexpr auto kHostNodeWait = std::chrono::seconds(20);
constexpr auto kSignalSlice = std::chrono::milliseconds(50);

std::string WaitForHostNode(const std::function<std::string()>& find) {
    const auto deadline = std::chrono::steady_clock::now() + kHostNodeWait;
    for (;;) {
        std::string node = find();
        if (!node.empty() || std::chrono::steady_clock::now() > deadline) {
            return node;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Written under another name and renamed, so that a waiting script never reads half of it.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
    const auto part = path.string() + ".part";
    {
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(part, path, error);
    return !error;
}

enum class StopReason { Signal, Unplugged, Lifetime };

// Waits for SIGTERM or SIGINT (stop), SIGUSR1 (unplug now), the device unplugging itself, or
// the end of the program's lifetime. The signals are blocked in every thread and taken here.
StopReason WaitForEnd(const sigset_t& signals, const VirtualDeviceOptions& options,
                      CVirtualUpdateDevice* pDevice, CKernelDeviceBridge* pBridge) {
    const auto end = std::chrono::steady_clock::now() + options.Lifetime;
    const timespec slice{0, std::chrono::nanoseconds(kSignalSlice).count()};
    while (std::chrono::steady_clock::now() < end) {
        const int signal = ::sigtimedwait(&signals, nullptr, &slice);
        if (signal == SIGUSR1 && pDevice != nullptr) {
            pDevice->Unplug();
        } else if (signal == SIGTERM || signal == SIGINT || (signal == SIGUSR1 && !pDevice)) {
            return StopReason::Signal;
        }
        if (pBridge != nullptr && pBridge->Unplugged()) {
            return StopReason::Unplugged;
        }
    }
    return StopReason::Lifetime;
}

// `endedAt` is wall-clock time (ms since the epoch) when the program saw the end, so that a
// script can tell how long the host took after an unplug.
std::string Summary(const CVirtualUpdateDevice& device, const CKernelDeviceBridge& bridge,
                    StopReason reason, std::chrono::system_clock::time_point endedAt) {
    std::string text;
    const auto add = [&](const char* name, std::size_t value) {
        text += std::string(name) + "=" + std::to_string(value) + "\n";
    };
    add("update_requests", device.UpdateRequestCount());
    add("data_packets", device.DataPacketCount());
    add("finish", device.FinishCount());
    add("version_queries", device.VersionQueryCount());
    add("polls", device.PollCount());
    add("output_reports", bridge.OutputReportsForwarded());
    add("input_reports", bridge.InputReportsForwarded());
    add("input_reports_lost", bridge.InputReportsLost());
    add("unplugged", reason == StopReason::Unplugged ? 1 : 0);
    add("ended_at_ms",
        static_cast<std::size_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(endedAt.time_since_epoch())
                .count()));
    return text;
}

int ServeDrive(const VirtualDeviceOptions& options, const std::string& serial,
               const sigset_t& signals) {
    std::string error;
    auto gadget = CConfigfsGadget::Create(
        "tarvex-" + serial,
        GadgetIdentity{options.VendorId, options.ProductId, "Tarvex", "Drive", serial}, error);
    if (gadget) {
        error =
            gadget->AddMassStorageFunction("drive", std::filesystem::absolute(options.DriveImage));
    }
    if (error.empty() && gadget) {
        error = gadget->Bind(options.Controller);
    }
    if (!error.empty()) {
        std::cerr << "tarvex-virtual-device: " << error << '\n';
        return kExitNoDevice;
    }
    const std::string node = WaitForHostNode([&] { return FindBlockNodeByUsbSerial(serial); });
    if (node.empty()) {
        std::cerr << "tarvex-virtual-device: the host made no block device for the drive\n";
        return kExitNoDevice;
    }
    std::cout << "ready " << node << std::endl;
    if (!options.ReadyFile.empty()) {
        WriteFileAtomically(options.ReadyFile, node + "\n");
    }
    WaitForEnd(signals, options, nullptr, nullptr);
    return kExitOk;  // the gadget unbinds and goes away with its object
}

int ServeHidDevice(const VirtualDeviceOptions& options, const std::string& serial,
                   const sigset_t& signals) {
    CVirtualUpdateDevice device(options.FirmwareVersion);
    device.SetReplyLatency(options.ReplyLatency);
    device.SetSilent(options.Silent);
    for (const auto& fault : options.Faults) {
        device.SetPacketFault(fault.PacketNumber, fault.Fault, fault.FailureCode);
    }

    const HidDeviceDescription description =
        DescribeUpdateDevice(serial, options.VendorId, options.ProductId);
    EndpointOpenResult opened =
        options.Transport == DeviceTransport::Gadget
            ? CHidGadgetEndpoint::Create(description, "tarvex-" + serial, options.Controller)
            : CUhidEndpoint::Create(description);
    if (!opened.Endpoint) {
        std::cerr << "tarvex-virtual-device: " << opened.Error << '\n';
        return kExitNoDevice;
    }
    CKernelDeviceBridge bridge(device, *opened.Endpoint);
    bridge.Start();

    const std::string node = WaitForHostNode([&] { return opened.Endpoint->HostNode(); });
    if (node.empty()) {
        std::cerr << "tarvex-virtual-device: the host made no hidraw node for the device\n";
        return kExitNoDevice;
    }
    std::cout << "ready " << node << std::endl;
    if (!options.ReadyFile.empty()) {
        WriteFileAtomically(options.ReadyFile, node + "\n");
    }

    const StopReason reason = WaitForEnd(signals, options, &device, &bridge);
    const auto endedAt = std::chrono::system_clock::now();
    bridge.Stop();
    opened.Endpoint->Unplug();

    int status = kExitOk;
    if (!options.PayloadOut.empty()) {
        const auto payload = device.ReceivedPayload();
        if (!WriteFileAtomically(options.PayloadOut, std::string(payload.begin(), payload.end()))) {
            std::cerr << "tarvex-virtual-device: cannot write " << options.PayloadOut << '\n';
            status = kExitNoDevice;
        }
    }
    if (!options.SummaryOut.empty() &&
        !WriteFileAtomically(options.SummaryOut, Summary(device, bridge, reason, endedAt))) {
        std::cerr << "tarvex-virtual-device: cannot write " << options.SummaryOut << '\n';
        status = kExitNoDevice;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const VirtualDeviceParseResult parsed = ParseVirtualDeviceArguments(arguments);
    if (!parsed.Options) {
        std::cerr << "tarvex-virtual-device: " << parsed.Error << "\n"
                  << "Try 'tarvex-virtual-device --help'.\n";
        return kExitUsage;
    }
    const VirtualDeviceOptions& options = *parsed.Options;
    if (options.Help) {
        std::cout << VirtualDeviceUsage();
        return kExitOk;
    }
    // Blocked before any thread starts, so that every thread inherits the mask and the signals
    // wait for WaitForEnd.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGUSR1}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::string serial =
        options.Serial.empty() ? "sim" + std::to_string(::getpid()) : options.Serial;
    return options.Transport == DeviceTransport::Drive ? ServeDrive(options, serial, signals)
                                                       : ServeHidDevice(options, serial, signals);
}
