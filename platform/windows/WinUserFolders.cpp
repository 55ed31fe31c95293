#include "platform/windows/WinUserFolders.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

namespace tarvex {

namespace {

constexpr const wchar_t* kProgramSubfolder = L"tarvex-update";

std::filesystem::path KnownLocalAppData() {
    wchar_t* folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    std::filesystem::path path;
    if (SUCCEEDED(result) && folder != nullptr) {
        path = folder;
    }
    ::CoTaskMemFree(folder);
    return path;
}

std::filesystem::path EnvironmentLocalAppData() {
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::wstring value(length, L'\0');
    const DWORD copied = ::GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), length);
    if (copied == 0 || copied >= length) {
        return {};
    }
    value.resize(copied);
    return value;
}

}  // namespace

std::filesystem::path UserLocalDataFolder() {
    std::filesystem::path base = KnownLocalAppData();
    if (base.empty() || !base.is_absolute()) {
        base = EnvironmentLocalAppData();
    }
    if (base.empty() || !base.is_absolute()) {
        return {};
    }
    return base / kProgramSubfolder;
}

}  // namespace tarvex
