// Turning the folder the user typed into a folder the payload can go into.
#pragma once

#include "payload/payload_stream.h"

namespace popbox {

// Trims white space and removes one trailing backslash, in place.
void NormalizeInstallDir(char* text);

// A drive path ("C:\x") or a network path with at least one folder below
// the share ("\\server\share\x"). Reports nothing.
bool IsAbsolutePath(const char* text);

// Refuses an existing install folder (or file of that name) and existing
// shortcut files, with the upgrade hint. Leaves [Install] selected.
bool CheckTargetsFree(const char* installDir);

// Refuses a folder below which the longest record name of the setup's own
// payload, or the LinkTarget value of the selected section (CheckTargetsFree
// selects [Install]), would pass MAX_NAME_LENGTH characters.
// Reports nothing else: a payload that cannot be walked, or a LinkTarget
// that cannot be read, is left to the extraction and the shortcuts.
bool CheckFolderFits(const char* installDir, PayloadStream& payload = thePayload);

// Creates the folder and its missing parents. The buffer is changed while
// it works and restored before it returns. Reports nothing.
bool CreateFolderTree(char* path);

}  // namespace popbox
