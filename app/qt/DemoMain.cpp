// tarvex-update-demo: the updater's window wired to the built-in virtual device, so that every
// result can be seen by hand. Built, not installed.

#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "app/DemoDevices.h"
#include "app/DemoOptions.h"
#include "app/qt/UpdateApp.h"
#include "platform/FontPreload.h"
#include "platform/SystemServices.h"

int main(int argc, char** argv) {
    using namespace tarvex;
    // The usage needs no display; everything else is read once Qt has taken its own options
    // (-platform, ...) out of argv.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::cout << DemoUsage();
            return 0;
        }
    }
    // Beside the toolkit's start, rather than before the window's layout.
    const std::unique_ptr<CFontPreload> fonts = StartFontPreload();
    CUpdateApp app(argc, argv);
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const DemoParseResult parsed = ParseDemoArguments(arguments);
    if (!parsed.Options) {
        std::cerr << "tarvex-update-demo: " << parsed.Error << "\n"
                  << "Try 'tarvex-update-demo --help'.\n";
        return 2;
    }
    CDemoDevices devices(*parsed.Options);
    sim::CVirtualHidPort& hidPort = devices.HidPort();
    sim::CVirtualUsbDeviceList& usbDevices = devices.UsbDevices();
    sim::CVirtualDeviceNotices& notices = devices.Notices();

    const std::unique_ptr<CUiLanguage> language = CreateUiLanguage();
    // Real volumes also with the virtual device: a drive-mode run copies onto whatever mounted
    // volume has the device's size.
    const FileSystemServices files = CreateFileSystemServices();
    const DriveCopyServices driveCopy = devices.DriveCopy(files);
    // The demo's runs are recorded as the program's are: the record names the virtual device.
    const CRunHistory history(CRunHistory::DefaultFile());
    fonts->Finish();
    return app.Run(UpdatePlatform{hidPort, usbDevices, *language, driveCopy, &notices,
                                  RunGuardServices{devices.DeviceLocks(), nullptr}, &history});
}
