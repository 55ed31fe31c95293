// Resource and control ids of the prompt: its template, its text, its buttons and its pictures.
// The prompt's code and the resource script of every program that shows it (app/win32/) share
// them. Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDD_PROMPT 111

#define IDC_PROMPT_TEXT 114
#define IDC_PROMPT_OK 124
#define IDC_PROMPT_CANCEL 127
#define IDC_PROMPT_CANCEL_COMMAND 128

#define IDB_PROMPT_BACKGROUND 134
#define IDB_OK 4010
#define IDB_OK_HIGHLIGHTED 4012
#define IDB_CANCEL 4013
#define IDB_CANCEL_HIGHLIGHTED 4015
