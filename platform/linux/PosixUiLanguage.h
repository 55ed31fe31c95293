#pragma once
// The user's interface language on Linux, from the POSIX locale variables in their standard
// precedence: the first entry of LANGUAGE, then LC_ALL, LC_MESSAGES, LANG. Only Chinese
// Simplified of the PRC (zh_CN with any codeset or modifier) selects 0x0804; everything else,
// including zh_TW, zh_HK, zh_SG, C and an unset locale, is English (0x0409).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UiLanguage.h"

namespace tarvex {

using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// Pure: decides from the variables `lookup` returns (nullopt = unset).
LanguageId LanguageFromLocaleEnvironment(const EnvironmentLookup& lookup);

class CPosixUiLanguage final : public CUiLanguage {
public:
    LanguageId UserDefaultUiLanguage() const override;
};

}  // namespace tarvex
