#pragma once
// What the windows' context-menu entry copies: the last run's record as readable text. Shared
// by the Qt and the Win32 window.

#include <string>

#include "history/RecordingUpdateView.h"
#include "history/RunHistory.h"

namespace tarvex {

// The history's last record (whichever program made it), or, when the history cannot be read
// or holds none, the last run this window recorded; empty when there is neither. Reads the
// history file: called on the window's thread when the user opens the menu.
std::string LastRunText(const CRunHistory* history, const CRecordingUpdateView& recorder);

}  // namespace tarvex
