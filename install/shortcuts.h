// Shell-link shortcuts to the installed application: Win32 only.
#pragma once

namespace popbox {

// Writes the requested shortcuts, Start menu first, each pointing at
// installDir\LinkTarget with that file's folder as working folder. Stops at
// the first failure with the reason in the error slot.
bool CreateShortcuts(const char* installDir, bool startMenu, bool desktop);

// Saves one shortcut file at exactly linkFile.
bool CreateShortcut(const char* target, const char* linkFile);

}  // namespace popbox
