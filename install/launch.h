// The closing question and the start of the installed application: Win32
// only.
#pragma once

#include <windows.h>

namespace popbox {

// Asks the [Installed Message] question (or "Run application?") and, on
// OK, starts installDir\LinkTarget. True when the user declined or the
// start succeeded.
bool OfferLaunch(HWND owner, const char* installDir);

// Starts a file through the shell in its own folder: a program (".EXE")
// shown normally with `parameters`, any other file as a document.
bool LaunchTarget(const char* path, const char* parameters);

}  // namespace popbox
