// Turning the folder the user typed into a folder the payload can go into.
#pragma once

namespace popbox {

// Trims white space and removes one trailing backslash, in place.
void NormalizeInstallDir(char* text);

// A drive path ("C:\x") or a network path with at least one folder below
// the share ("\\server\share\x"). Reports nothing.
bool IsAbsolutePath(const char* text);

// Refuses an existing install folder (or file of that name) and existing
// shortcut files, with the upgrade hint. Leaves [Install] selected.
bool CheckTargetsFree(const char* installDir);

// Creates the folder and its missing parents. The buffer is changed while
// it works and restored before it returns. Reports nothing.
bool CreateFolderTree(char* path);

}  // namespace popbox
