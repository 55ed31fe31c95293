#include "platform/linux/PosixUiLanguage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tarvex {
namespace {

using Environment = std::map<std::string, std::string, std::less<>>;

LanguageId LanguageFrom(const Environment& environment) {
    return LanguageFromLocaleEnvironment([&](std::string_view name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        if (found == environment.end()) {
            return std::nullopt;
        }
        return found->second;
    });
}

constexpr LanguageId kChinese = kLanguageChineseSimplifiedPrc;
constexpr LanguageId kEnglish = kLanguageEnglishUs;

TEST(PosixUiLanguage, OnlyZhCnWithAnyCodesetOrModifierIsChineseSimplified) {
    struct LocaleCase {
        const char* Locale;
        LanguageId Expected;
    };
    const LocaleCase cases[] = {
        {"zh_CN", kChinese},     {"zh_CN.UTF-8", kChinese},    {"zh_CN.GB18030", kChinese},
        {"zh_CN@xyz", kChinese}, {"zh_CN.utf8@mod", kChinese}, {"zh_TW.UTF-8", kEnglish},
        {"zh_HK", kEnglish},     {"zh_SG.GBK", kEnglish},      {"zh", kEnglish},
        {"zh_CNX", kEnglish},    {"ja_JP.UTF-8", kEnglish},    {"C", kEnglish},
        {"POSIX", kEnglish},     {"C.UTF-8", kEnglish},        {"en_US.UTF-8", kEnglish},
    };
    for (const LocaleCase& locale : cases) {
        SCOPED_TRACE(locale.Locale);
        EXPECT_EQ(LanguageFrom({{"LANG", locale.Locale}}), locale.Expected);
    }
}

TEST(PosixUiLanguage, FirstSetAndNonEmptyVariableDecides) {
    struct PrecedenceCase {
        const char* What;
        Environment Variables;
        LanguageId Expected;
    };
    const PrecedenceCase cases[] = {
        {"nothing set", {}, kEnglish},
        {"LANGUAGE alone", {{"LANGUAGE", "zh_CN"}}, kChinese},
        {"first LANGUAGE entry wins over the later ones",
         {{"LANGUAGE", "en_US:zh_CN"}, {"LANG", "zh_CN.UTF-8"}},
         kEnglish},
        {"LANGUAGE wins over LC_ALL, even when that is C",
         {{"LANGUAGE", "zh_CN:en_US"}, {"LC_ALL", "C"}},
         kChinese},
        {"empty LANGUAGE counts as unset", {{"LANGUAGE", ""}, {"LC_ALL", "zh_CN.UTF-8"}}, kChinese},
        {"empty LANGUAGE entries are skipped", {{"LANGUAGE", "::zh_CN:en_US"}}, kChinese},
        {"LANGUAGE of colons only counts as unset",
         {{"LANGUAGE", ":"}, {"LANG", "zh_CN.UTF-8"}},
         kChinese},
        {"LC_ALL wins over LC_MESSAGES and LANG",
         {{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}, {"LANG", "zh_CN.UTF-8"}},
         kEnglish},
        {"empty LC_ALL falls through to LC_MESSAGES",
         {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}},
         kChinese},
        {"LC_MESSAGES wins over LANG",
         {{"LC_MESSAGES", "en_US.UTF-8"}, {"LANG", "zh_CN.UTF-8"}},
         kEnglish},
        {"empty LC_MESSAGES falls through to LANG",
         {{"LC_MESSAGES", ""}, {"LANG", "zh_CN.UTF-8"}},
         kChinese},
        {"other categories are not consulted", {{"LC_CTYPE", "zh_CN.UTF-8"}}, kEnglish},
    };
    for (const PrecedenceCase& precedence : cases) {
        SCOPED_TRACE(precedence.What);
        EXPECT_EQ(LanguageFrom(precedence.Variables), precedence.Expected);
    }
}

// Clears the locale variables for one test and puts the process's own values back afterwards.
class CLocaleEnvironmentGuard {
public:
    CLocaleEnvironmentGuard() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (const char* value = std::getenv(kNames[i])) {
                m_Saved[i] = value;
            }
            unsetenv(kNames[i]);
        }
    }
    ~CLocaleEnvironmentGuard() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (m_Saved[i]) {
                setenv(kNames[i], m_Saved[i]->c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }
    CLocaleEnvironmentGuard(const CLocaleEnvironmentGuard&) = delete;
    CLocaleEnvironmentGuard& operator=(const CLocaleEnvironmentGuard&) = delete;

private:
    static constexpr std::array<const char*, 4> kNames{"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::array<std::optional<std::string>, 4> m_Saved;
};

TEST(PosixUiLanguage, ReadsTheProcessEnvironmentAtEveryCall) {
    const CLocaleEnvironmentGuard guard;
    const CPosixUiLanguage language;
    EXPECT_EQ(language.UserDefaultUiLanguage(), kEnglish);
    setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
    EXPECT_EQ(language.UserDefaultUiLanguage(), kChinese);
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(language.UserDefaultUiLanguage(), kChinese);
    setenv("LANGUAGE", "en_GB:zh_CN", 1);
    EXPECT_EQ(language.UserDefaultUiLanguage(), kEnglish);
}

}  // namespace
}  // namespace tarvex
