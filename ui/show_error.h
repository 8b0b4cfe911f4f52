// Showing the pending error: Win32 only.
#pragma once

#include <windows.h>

namespace popbox {

// Shows the pending message, if any, in a message box with the slot's
// caption: owned by `owner`, or task-modal when there is none. The slot
// stays as it is.
void ShowError(HWND owner);

}  // namespace popbox
