#pragma once
// The user's interface language, as a 16-bit language identifier (0x0804 = Chinese Simplified,
// PRC). Asked anew at every text lookup, so an implementation must be cheap and thread-safe.

#include <cstdint>

namespace tarvex {

using LanguageId = std::uint16_t;
inline constexpr LanguageId kLanguageChineseSimplifiedPrc = 0x0804;
inline constexpr LanguageId kLanguageEnglishUs = 0x0409;

class CUiLanguage {
public:
    virtual ~CUiLanguage() = default;
    virtual LanguageId UserDefaultUiLanguage() const = 0;
};

// A fixed language; for tests and for callers that decided the language themselves.
class CFixedUiLanguage final : public CUiLanguage {
public:
    explicit CFixedUiLanguage(LanguageId language) : m_Language(language) {}
    LanguageId UserDefaultUiLanguage() const override { return m_Language; }

private:
    LanguageId m_Language;
};

}  // namespace tarvex
