#include "platform/windows/WinUiLanguage.h"

#include <windows.h>

namespace tarvex {

LanguageId CWinUiLanguage::UserDefaultUiLanguage() const {
    return ::GetUserDefaultUILanguage();
}

}  // namespace tarvex
