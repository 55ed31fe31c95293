#pragma once
// Keys the main dialog swallows: none of them may close it, press its button or move the focus.
// Keys are named by their virtual key codes (the numbering of Windows messages); a toolkit with
// its own key codes maps them onto these. Pure.

#include <algorithm>
#include <iterator>

namespace tarvex {

inline constexpr int kVirtualKeyTab = 0x09;
inline constexpr int kVirtualKeyReturn = 0x0D;
inline constexpr int kVirtualKeyAlt = 0x12;
inline constexpr int kVirtualKeyEscape = 0x1B;
inline constexpr int kVirtualKeyLeft = 0x25;
inline constexpr int kVirtualKeyUp = 0x26;
inline constexpr int kVirtualKeyRight = 0x27;
inline constexpr int kVirtualKeyDown = 0x28;
inline constexpr int kVirtualKeyF1 = 0x70;

inline constexpr int kMainDialogSwallowedKeys[] = {
    kVirtualKeyTab, kVirtualKeyReturn, kVirtualKeyAlt,  kVirtualKeyEscape, kVirtualKeyLeft,
    kVirtualKeyUp,  kVirtualKeyRight,  kVirtualKeyDown, kVirtualKeyF1};

constexpr bool IsSwallowedByMainDialog(int virtualKey) {
    return std::find(std::begin(kMainDialogSwallowedKeys), std::end(kMainDialogSwallowedKeys),
                     virtualKey) != std::end(kMainDialogSwallowedKeys);
}

}  // namespace tarvex
