#pragma once
// The program's fonts, with what stands in for them where the named faces are missing (Linux
// rarely has them). Texts in a script a face lacks are drawn by Qt's per-character fallback
// from the CJK faces named last.
//
// Threads: the window's thread only.

#include <QFont>

namespace tarvex {

// The dialog font, 9 pt: the Song face of Simplified Chinese systems, else a CJK face that
// Linux distributions ship (WenQuanYi Micro Hei, Noto Sans CJK SC).
QFont DialogFont();

// The instruction text's font: Arial (or its metric twin Liberation Sans) whose character cell
// (ascent + descent) is 15 pixels high, normal weight.
QFont InstructionFont();

// The prompt's text: the instruction face at a size that fits the prompt's panel.
QFont PromptFont();

}  // namespace tarvex
