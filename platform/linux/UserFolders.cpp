#include "platform/linux/UserFolders.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace tarvex {

std::filesystem::path UserCacheFolder(std::string_view subfolder, const EnvironmentLookup& lookup) {
    const auto absolute = [&](std::string_view name) -> std::optional<std::filesystem::path> {
        auto value = lookup(name);
        if (!value || value->empty() || value->front() != '/') {
            return std::nullopt;
        }
        return std::filesystem::path(std::move(*value));
    };
    if (const auto cacheHome = absolute("XDG_CACHE_HOME")) {
        return *cacheHome / subfolder;
    }
    if (const auto home = absolute("HOME")) {
        return *home / ".cache" / subfolder;
    }
    return {};
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
