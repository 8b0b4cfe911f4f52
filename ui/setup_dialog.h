// The setup dialog: the program's only window.
#pragma once

#include <windows.h>

namespace popbox {

// Registers the "DialogAsMain" class, chooses the layout from [Vendor]
// Name and runs the dialog modally until it ends.
void RunSetupDialog(HINSTANCE instance);

}  // namespace popbox
