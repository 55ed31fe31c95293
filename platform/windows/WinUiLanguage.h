#pragma once
// The user's interface language on Windows: GetUserDefaultUILanguage, asked at every call.

#include "platform/UiLanguage.h"

namespace tarvex {

class CWinUiLanguage final : public CUiLanguage {
public:
    LanguageId UserDefaultUiLanguage() const override;
};

}  // namespace tarvex
