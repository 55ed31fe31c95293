#include "platform/linux/PosixUiLanguage.h"

#include <array>
#include <cstdlib>
#include <utility>

namespace tarvex {
namespace {

// LANGUAGE is a priority list such as "zh_CN:en_US". Empty entries name no language and are
// skipped, so a list made only of colons counts as unset.
std::string_view FirstLanguageListEntry(std::string_view list) {
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view entry = list.substr(0, colon);
        if (!entry.empty()) {
            return entry;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        list.remove_prefix(colon + 1);
    }
    return {};
}

// Consulted after LANGUAGE, in this order; the first set and non-empty one decides.
constexpr std::array<std::string_view, 3> kLocaleVariables{"LC_ALL", "LC_MESSAGES", "LANG"};

// The locale name that decides the messages' language, or empty when none is set.
std::string EffectiveMessagesLocale(const EnvironmentLookup& lookup) {
    if (const auto list = lookup("LANGUAGE")) {
        const std::string_view first = FirstLanguageListEntry(*list);
        if (!first.empty()) {
            return std::string(first);
        }
    }
    for (const std::string_view name : kLocaleVariables) {
        if (auto value = lookup(name); value && !value->empty()) {
            return std::move(*value);
        }
    }
    return {};
}

// language[_territory][.codeset][@modifier]: only the part before the codeset and modifier
// tells Simplified Chinese of the PRC apart from the other Chinese locales.
bool IsChineseSimplifiedPrc(std::string_view locale) {
    return locale.substr(0, locale.find_first_of(".@")) == "zh_CN";
}

}  // namespace

LanguageId LanguageFromLocaleEnvironment(const EnvironmentLookup& lookup) {
    return IsChineseSimplifiedPrc(EffectiveMessagesLocale(lookup)) ? kLanguageChineseSimplifiedPrc
                                                                   : kLanguageEnglishUs;
}

LanguageId CPosixUiLanguage::UserDefaultUiLanguage() const {
    // Read anew at every call, never cached. getenv is safe on any thread as long as no thread
    // modifies the environment at the same time; the program itself never sets variables.
    return LanguageFromLocaleEnvironment([](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    });
}

}  // namespace tarvex
