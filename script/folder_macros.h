// Folder macros: names between '<' and '>' in the script's path values that
// stand for folders Windows publishes in the registry.
#pragma once

#include "platform/registry.h"

namespace popbox {

struct FolderMacro {
  const char* macroName;  // the text between the brackets; null ends the table
  RegistryRoot root;
  const char* keyPath;
  const char* valueName;
};

// The four macros, then an end row.
extern const FolderMacro FOLDER_MACROS[];

// Finds the row whose name equals `name` exactly (case counts), or null.
const FolderMacro* FindFolderMacro(const char* name);

// Expands every macro of a text of at most 259 characters in place (the
// buffer holds NAME_BUFFER_SIZE bytes). Reports "Macro Unknown: ",
// "Macro Undefined: " or "String Overflow" as defects and returns false.
bool ExpandFolderMacros(char* text);

}  // namespace popbox
