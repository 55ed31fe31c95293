#include "platform/linux/UserFolders.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace tarvex {

namespace {

// `subfolder` under the folder the XDG variable `variable` names, else under `homeRelative` in
// the home folder. A relative value counts as none.
std::filesystem::path XdgFolder(std::string_view variable, std::string_view homeRelative,
                                std::string_view subfolder, const EnvironmentLookup& lookup) {
    const auto absolute = [&](std::string_view name) -> std::optional<std::filesystem::path> {
        auto value = lookup(name);
        if (!value || value->empty() || value->front() != '/') {
            return std::nullopt;
        }
        return std::filesystem::path(std::move(*value));
    };
    if (const auto base = absolute(variable)) {
        return *base / subfolder;
    }
    if (const auto home = absolute("HOME")) {
        return *home / homeRelative / subfolder;
    }
    return {};
}

}  // namespace

std::filesystem::path UserCacheFolder(std::string_view subfolder, const EnvironmentLookup& lookup) {
    return XdgFolder("XDG_CACHE_HOME", ".cache", subfolder, lookup);
}

std::filesystem::path UserStateFolder(std::string_view subfolder, const EnvironmentLookup& lookup) {
    return XdgFolder("XDG_STATE_HOME", ".local/state", subfolder, lookup);
}

std::filesystem::path UserCacheFolder(std::string_view subfolder) {
    return UserCacheFolder(subfolder, [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    });
}

}  // namespace tarvex
