// Path texts of the installation: composing targets below the install
// folder, the folder that holds a file, and record names that stay inside.
// Paths are zero-terminated ANSI bytes in buffers of NAME_BUFFER_SIZE.
#pragma once

#include <stddef.h>

namespace popbox {

// target = folder + "\" + name, when that fits in NAME_BUFFER_SIZE bytes;
// otherwise false and target is left empty.
bool ComposePath(char* target, const char* folder, const char* name);

// Cuts a path in place to the folder that holds its last element:
// "C:\Apps\Viewer.exe" -> "C:\Apps", "C:\Viewer.exe" -> "C:\",
// "Viewer.exe" -> "".
void ParentFolderOf(char* path);

// True when a payload record name stays inside the install folder: not
// empty, no leading separator, no colon (drives, streams), no empty
// element, none ending in a dot or blank ("." and ".." among them), and
// none that Windows takes for a device (CON, NUL, COM1, ...). Windows also
// takes '/' as a separator, so both count.
bool IsSafeRecordName(const char* name);

// True when Windows opens a device, not a file, for this element of N bytes:
// its name before the first dot (blanks before the dot aside) is CON, PRN,
// AUX, NUL, COM1-9 or LPT1-9, in any case, or COM or LPT followed by the
// byte of a superscript 1, 2 or 3 in code page 1252 (whatever the code
// page). "COM1" or "con.txt" would write to a port or the console.
bool IsDeviceName(const char* element, size_t n);

}  // namespace popbox
