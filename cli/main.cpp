// tarvex-update-cli: updates one USB game controller or receiver from the terminal.

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "platform/SystemServices.h"
#include "platform/linux/PosixUiLanguage.h"
#include "sim/VirtualHidPort.h"

namespace {

std::atomic<bool> StopRequested{false};

extern "C" void OnInterrupt(int) {
    StopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvex;
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const CliParseResult parsed = ParseCliArguments(arguments);
    if (!parsed.Options) {
        std::cerr << "tarvex-update-cli: " << parsed.Error << "\n"
                  << "Try 'tarvex-update-cli --help'.\n";
        return kExitUsage;
    }
    const CliOptions& options = *parsed.Options;
    if (options.Help) {
        std::cout << CliUsage();
        return kExitSuccess;
    }

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CPosixUiLanguage language;
    sim::CVirtualHidPort virtualHid;
    sim::CVirtualUsbDeviceList virtualUsb;
    SystemServices system;
    CHidPort* pHidPort = &virtualHid;
    CUsbDeviceList* pUsbDevices = &virtualUsb;
    if (options.Virtual != VirtualDeviceKind::None) {
        if (options.Virtual == VirtualDeviceKind::Hid) {
            virtualHid.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
        } else {
            virtualUsb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        }
    } else {
        system = CreateSystemServices();
        pHidPort = system.HidPort.get();
        pUsbDevices = system.UsbDevices.get();
    }

    const CliStreams streams{std::cout, std::cerr, STDIN_FILENO, isatty(STDIN_FILENO) == 1,
                             isatty(STDOUT_FILENO) == 1};
    // Real volumes also with a virtual device: --virtual=drive copies onto whatever mounted
    // volume has the device's size.
    const FileSystemServices files = CreateFileSystemServices();
    const DriveCopyServices driveCopy{files.Volumes.get(), pUsbDevices, files.FileWriter.get(),
                                      files.StagingFolder};
    // Also with a virtual device: --virtual=drive writes a real volume.
    const RunGuardSystemServices guards = CreateRunGuardServices();
    return RunCli(
        options,
        CliPlatform{*pHidPort, *pUsbDevices, language, driveCopy, system.DeviceNotices.get(),
                    RunGuardServices{guards.DeviceLocks.get(), guards.SleepInhibitor.get()}},
        streams, StopRequested);
}
