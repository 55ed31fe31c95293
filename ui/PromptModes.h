#pragma once
// The prompt's modes and answers: what a caller asks the prompt to show and what it gives back.
// The prompt itself (ui/qt/, ui/win32/) and whoever opens one (the engine's view, the windows,
// the terminal program) share these values.

namespace tarvex {

// Prompt modes and results.
inline constexpr int kPromptNotice = 0;    // OK only
inline constexpr int kPromptQuestion = 1;  // OK and Cancel
inline constexpr int kPromptOk = 1;
inline constexpr int kPromptCancel = 2;
inline constexpr int kPromptNotCreated = -1;

}  // namespace tarvex
