#pragma once
// Where the program may keep files of its own on Windows.

#include <filesystem>

namespace tarvex {

// The program's folder in the user's local application data (…\AppData\Local\tarvex-update),
// from the known folder, else from LOCALAPPDATA; empty when neither names one.
std::filesystem::path UserLocalDataFolder();

}  // namespace tarvex
