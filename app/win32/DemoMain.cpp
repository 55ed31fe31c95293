// tarvex-update-demo.exe: the updater's window wired to the built-in virtual device, so that
// every result can be seen by hand (and driven by the window's tests). Built, not installed
// for users.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/DemoDevices.h"
#include "app/DemoOptions.h"
#include "app/win32/UpdateApp.h"
#include "platform/SystemServices.h"
#include "platform/windows/Utf16Text.h"

namespace {

// The wide command line as UTF-8 arguments, without the program's name.
std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(tarvex::WideToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace tarvex;
    const std::vector<std::string> owned = Arguments();
    const std::vector<std::string_view> arguments(owned.begin(), owned.end());
    const DemoParseResult parsed = ParseDemoArguments(arguments);
    if (!parsed.Options) {
        std::fprintf(stderr, "tarvex-update-demo: %s\nTry 'tarvex-update-demo --help'.\n",
                     parsed.Error.c_str());
        return 2;
    }
    if (parsed.Options->Help) {
        std::fputs(DemoUsage().c_str(), stdout);
        return 0;
    }

    CUpdateApp app;
    CDemoDevices devices(*parsed.Options);
    const std::unique_ptr<CUiLanguage> language = CreateUiLanguage();
    // Real volumes also with the virtual device: a drive-mode run copies onto whatever volume
    // has the device's size.
    const FileSystemServices files = CreateFileSystemServices();
    const DriveCopyServices driveCopy = devices.DriveCopy(files);
    // The demo's runs are recorded as the program's are: the record names the virtual device.
    const CRunHistory history(CRunHistory::DefaultFile());
    return app.Run(UpdatePlatform{devices.HidPort(), devices.UsbDevices(), *language, driveCopy,
                                  &devices.Notices(),
                                  RunGuardServices{devices.DeviceLocks(), nullptr}, &history});
}
