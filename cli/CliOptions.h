#pragma once
// Command line of the terminal program.

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvex {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUpdateFailed = 1;
inline constexpr int kExitUsage = 2;  // also: image refused before anything was sent
inline constexpr int kExitCancelled = 3;

enum class VirtualDeviceKind { None, Hid, Drive };

struct CliOptions {
    bool Help = false;
    bool Version = false;
    bool List = false;
    bool AssumeYes = false;
    bool Trace = false;
    // --mount-auth: the system may ask for a password to mount the drive-mode device's volume.
    bool MountAuthentication = false;
    // --history: print the history of runs instead of updating.
    bool History = false;
    // --json: --list, --history and an update run also (or instead) speak JSON on standard
    // output.
    bool Json = false;
    VirtualDeviceKind Virtual = VirtualDeviceKind::None;
    // --wait[=SECONDS]: wait for an updatable device to be plugged in (WaitLimit 0: no limit).
    bool Wait = false;
    std::chrono::seconds WaitLimit{0};
    // --device=NODE|SERIAL: the one device to update (or list); empty: any, if only one.
    std::string Device;
    std::filesystem::path ImagePath;
};

struct CliParseResult {
    std::optional<CliOptions> Options;
    std::string Error;  // names the problem when Options is empty
};

CliParseResult ParseCliArguments(std::span<const std::string_view> arguments);
std::string CliUsage();
// "tarvex-update-cli 1.0\n": the name and the version the build gave the program.
std::string CliVersionText();

}  // namespace tarvex
