// tarvex-update-cli: updates one USB game controller or receiver from the terminal.

#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "history/RunHistory.h"
#include "platform/SystemServices.h"
#include "platform/Terminal.h"
#include "sim/VirtualHidPort.h"

namespace {

std::atomic<bool> StopRequested{false};

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvex;
    PrepareStandardStreams();
    const std::vector<std::string> argumentTexts = ProgramArguments(argc, argv);
    const std::vector<std::string_view> arguments(argumentTexts.begin(), argumentTexts.end());
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
    if (options.Version) {
        std::cout << CliVersionText();
        return kExitSuccess;
    }

    StopOnInterrupt(StopRequested);

    const std::unique_ptr<CUiLanguage> language = CreateUiLanguage();
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

    const CliStreams streams{std::cout, std::cerr, 0, StandardInputIsTerminal(),
                             StandardOutputIsTerminal()};
    // Real volumes also with a virtual device: --virtual=drive copies onto whatever mounted
    // volume has the device's size.
    const FileSystemServices files = CreateFileSystemServices();
    DriveCopyServices driveCopy{files.Volumes.get(), pUsbDevices, files.FileWriter.get(),
                                files.StagingFolder};
    // Where nothing mounts the device's volume, the run mounts it (and unmounts it after).
    driveCopy.pVolumeMounter = files.VolumeMounter.get();
    // Also with a virtual device: --virtual=drive writes a real volume.
    const RunGuardSystemServices guards = CreateRunGuardServices();
    // Runs on the virtual devices are recorded too: they go through the same engine, and the
    // record says which device it was.
    const CRunHistory history(CRunHistory::DefaultFile());
    const int status = RunCli(
        options,
        CliPlatform{*pHidPort, *pUsbDevices, *language, driveCopy, system.DeviceNotices.get(),
                    RunGuardServices{guards.DeviceLocks.get(), guards.SleepInhibitor.get()},
                    &history},
        streams, StopRequested);
    std::cout.flush();
    std::cerr.flush();
    WorkEnded();
    return status;
}
