#pragma once
// Where the program may keep files of its own, on Linux.

#include <filesystem>
#include <string_view>

#include "platform/linux/PosixUiLanguage.h"  // EnvironmentLookup

namespace tarvex {

// The subfolder of the user's cache folder that belongs to this program.
inline constexpr std::string_view kProgramCacheSubfolder = "tarvex-update";

// The program's cache folder by the XDG base-directory rules: `subfolder` under XDG_CACHE_HOME
// when that is an absolute path, else under $HOME/.cache when HOME is absolute; empty when
// neither is usable. A relative value is ignored, as the rules require, because it would depend
// on the current directory. Pure over `lookup`.
std::filesystem::path UserCacheFolder(std::string_view subfolder, const EnvironmentLookup& lookup);

// The same, from the process's environment.
std::filesystem::path UserCacheFolder(std::string_view subfolder = kProgramCacheSubfolder);

// The program's state folder (what outlives a run, such as its history) by the same rules:
// under XDG_STATE_HOME when absolute, else under $HOME/.local/state. Pure over `lookup`.
std::filesystem::path UserStateFolder(std::string_view subfolder, const EnvironmentLookup& lookup);

}  // namespace tarvex
