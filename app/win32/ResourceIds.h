// Resource and control ids of the window program, shared by the resource script and the code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDI_PROGRAM_ICON 110
#define IDD_PROMPT 111

#define IDC_PROMPT_TEXT 114
#define IDC_INSTRUCTION_TEXT 115
#define IDC_VERSION_TEXT 116
#define IDC_PROGRESS 119
#define IDC_UPDATE_BUTTON 123
#define IDC_PROMPT_OK 124
#define IDC_PROMPT_CANCEL 127
#define IDC_PROMPT_CANCEL_COMMAND 128

#define IDB_PROMPT_BACKGROUND 134
#define IDB_OK 4010
#define IDB_OK_HIGHLIGHTED 4012
#define IDB_CANCEL 4013
#define IDB_CANCEL_HIGHLIGHTED 4015
