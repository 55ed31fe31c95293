#include "cli/CliApp.h"

#include <cstdio>
#include <system_error>

#include "cli/ConsoleUpdateView.h"
#include "cli/ReportTrace.h"
#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {

// How long the terminal waits for the device to tell its firmware version before going on.
constexpr std::chrono::milliseconds kVersionWait{2000};

std::string HexId(std::uint16_t vendorId, std::uint16_t productId) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}

int ExitStatusFor(UpdateOutcome outcome) {
    switch (outcome) {
        case UpdateOutcome::Succeeded:
            return kExitSuccess;
        case UpdateOutcome::Failed:
            return kExitUpdateFailed;
        case UpdateOutcome::Cancelled:
            return kExitCancelled;
        case UpdateOutcome::ImageRefused:
            return kExitUsage;
    }
    return kExitUpdateFailed;
}

int RunUpdate(const CliOptions& options, CHidPort& hidPort, const CliPlatform& platform,
              const CliStreams& streams, const std::atomic<bool>& stopRequested) {
    CHid hid(hidPort, platform.UsbDevices);
    CConsoleUpdateView view(
        streams.Out, streams.Err,
        ConsoleSettings{options.ImagePath, options.AssumeYes, streams.bInputIsTerminal,
                        streams.bOutputIsTerminal, streams.InputFd});
    CUpdateEngine engine(hid, view, platform.Language);

    engine.Initialise();
    if (hid.DriveModePresent()) {
        streams.Err << "A drive-mode device is attached, but this build cannot update drive-mode "
                       "devices yet.\n";
        return kExitUpdateFailed;
    }
    if (!hid.DevicePresent()) {
        if (hid.UpdateDeviceOpenError() == HidOpenError::PermissionDenied) {
            streams.Err << LoadLocalizedString(kTextDevicePermissionDenied, platform.Language)
                        << '\n';
        } else {
            streams.Err << "No updatable device found: put the device in update mode and plug "
                           "it in.\n";
        }
        return kExitUpdateFailed;
    }
    view.WaitForVersionText(kVersionWait);
    if (!engine.OnUsbUpdate()) {
        streams.Err << "The update device could not be opened.\n";
        return kExitUpdateFailed;
    }
    const auto outcome = view.WaitForRunEnd(stopRequested);
    engine.Shutdown();
    if (!outcome) {
        streams.Err << "Cancelled.\n";
        return kExitCancelled;
    }
    return ExitStatusFor(*outcome);
}

}  // namespace

void ListUpdatableDevices(CHidPort& hidPort, CUsbDeviceList& usbDevices, std::ostream& out) {
    for (const auto& device : usbDevices.ListUsbDevices()) {
        if (IsDriveModeDevice(device.VendorId, device.ProductId)) {
            out << "drive " << HexId(device.VendorId, device.ProductId) << ' ' << device.SystemPath
                << '\n';
        }
    }
    for (const auto& hidInterface : hidPort.ListHidInterfaces()) {
        if (ClassifyHidDevice(hidInterface.VendorId, hidInterface.ProductId)) {
            out << "hid " << HexId(hidInterface.VendorId, hidInterface.ProductId) << ' '
                << hidInterface.Path << '\n';
        }
    }
}

int RunCli(const CliOptions& options, const CliPlatform& platform, const CliStreams& streams,
           const std::atomic<bool>& stopRequested) {
    if (options.List) {
        ListUpdatableDevices(platform.HidPort, platform.UsbDevices, streams.Out);
        return kExitSuccess;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(options.ImagePath, error)) {
        streams.Err << "Firmware image '" << options.ImagePath.string()
                    << "' does not exist or is not a file.\n";
        return kExitUsage;
    }
    if (options.Trace) {
        CTracingHidPort tracingPort(platform.HidPort, streams.Err);
        return RunUpdate(options, tracingPort, platform, streams, stopRequested);
    }
    return RunUpdate(options, platform.HidPort, platform, streams, stopRequested);
}

}  // namespace tarvex
