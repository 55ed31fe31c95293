// Resource and control ids of the window program, shared by the resource script and the code.
// The prompt's own ids sit beside the prompt (ui/win32/PromptResourceIds.h).
// Plain #defines: the resource compiler reads this file too.
#pragma once

#include "ui/win32/PromptResourceIds.h"

#define IDD_UPDATE_DIALOG 102
#define IDI_PROGRAM_ICON 110

#define IDC_INSTRUCTION_TEXT 115
#define IDC_VERSION_TEXT 116
#define IDC_PROGRESS 119
#define IDC_UPDATE_BUTTON 123
