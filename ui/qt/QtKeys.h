#pragma once
// Qt's key codes as virtual key codes (ui/DialogKeys.h), for the keys the windows treat alike.

namespace tarvex {

// The virtual key of a Qt::Key: Backtab is Tab with Shift, the keypad's Enter is Return. 0 for
// any key no window of ours treats specially.
int VirtualKeyOf(int qtKey);

}  // namespace tarvex
