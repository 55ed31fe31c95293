// tarvex-update-cli: updates one USB game controller or receiver from the terminal.

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/CliApp.h"
#include "hid/DeviceIdentity.h"
#include "platform/linux/PosixUiLanguage.h"
#include "sim/VirtualHidPort.h"

namespace {

std::atomic<bool> StopRequested{false};

extern "C" void OnInterrupt(int) {
    StopRequested.store(true);
}

// Without a hardware backend nothing is listed; the virtual device is the way to try the tool.
class CNoHardwareHidPort final : public tarvex::CHidPort {
public:
    std::vector<tarvex::HidInterfaceInfo> ListHidInterfaces() override { return {}; }
    tarvex::HidOpenResult OpenHidInterface(const std::string&) override {
        return {nullptr, tarvex::HidOpenError::NotFound};
    }
};

class CNoHardwareUsbDeviceList final : public tarvex::CUsbDeviceList {
public:
    std::vector<tarvex::UsbDeviceInfo> ListUsbDevices() override { return {}; }
};

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
    CNoHardwareHidPort noHardwareHid;
    CNoHardwareUsbDeviceList noHardwareUsb;
    CHidPort* pHidPort = &noHardwareHid;
    CUsbDeviceList* pUsbDevices = &noHardwareUsb;
    if (options.Virtual != VirtualDeviceKind::None) {
        pHidPort = &virtualHid;
        pUsbDevices = &virtualUsb;
        if (options.Virtual == VirtualDeviceKind::Hid) {
            virtualHid.AttachUpdateDevice(std::make_shared<sim::CVirtualUpdateDevice>());
        } else {
            virtualUsb.AddDevice(kTargetVendorId, kDriveModeProductIds[0]);
        }
    } else {
        std::cerr << "This build has no hardware backend yet; use --virtual to try the tool "
                     "against the built-in virtual device.\n";
    }

    const CliStreams streams{std::cout, std::cerr, STDIN_FILENO, isatty(STDIN_FILENO) == 1,
                             isatty(STDOUT_FILENO) == 1};
    return RunCli(options, CliPlatform{*pHidPort, *pUsbDevices, language}, streams, StopRequested);
}
