#include "script/folder_macros.h"

#include <string.h>

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "script/script_document.h"

namespace popbox {

namespace {
const char SHELL_FOLDERS[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
}

const FolderMacro FOLDER_MACROS[] = {
    {"Program Files", RegistryRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
     "ProgramFilesDir"},
    {"Desktop", RegistryRoot::CurrentUser, SHELL_FOLDERS, "Desktop"},
    {"Programs Menu", RegistryRoot::CurrentUser, SHELL_FOLDERS, "Programs"},
    {"My Documents", RegistryRoot::CurrentUser, SHELL_FOLDERS, "Personal"},
    {nullptr, RegistryRoot::LocalMachine, nullptr, nullptr},
};

const FolderMacro* FindFolderMacro(const char* name) {
  for (const FolderMacro* row = FOLDER_MACROS; row->macroName; ++row) {
    if (strcmp(row->macroName, name) == 0) return row;
  }
  return nullptr;
}

bool ExpandFolderMacros(char* text) {
  char* p = text;
  for (;;) {
    char* open = strchr(p, '<');
    if (!open) return true;
    char* close = strchr(open + 1, '>');
    if (!close) return true;

    // Split into prefix | name | tail; the tail waits in a buffer of its
    // own while the folder goes in.
    char tail[NAME_BUFFER_SIZE];
    strcpy(tail, close + 1);
    *close = 0;
    char name[NAME_BUFFER_SIZE];
    strcpy(name, open + 1);
    *open = 0;

    const FolderMacro* macro = FindFolderMacro(name);
    if (!macro) {
      ReportDefect("Macro Unknown: ", name, ErrorKind::MacroUnknown);
      return false;
    }
    char folder[NAME_BUFFER_SIZE];
    if (!ReadRegistryString(macro->root, macro->keyPath, macro->valueName, folder, sizeof folder)) {
      ReportDefect("Macro Undefined: ", name, ErrorKind::MacroUndefined);
      return false;
    }
    size_t prefixLength = static_cast<size_t>(open - text);
    size_t folderLength = strlen(folder);
    if (prefixLength + folderLength + strlen(tail) >= NAME_BUFFER_SIZE) {
      ReportDefect("String Overflow", "", ErrorKind::StringOverflow);
      return false;
    }
    memcpy(open, folder, folderLength);
    strcpy(open + folderLength, tail);
    p = open + folderLength;  // the inserted folder is never searched
  }
}

bool ScriptDocument::GetPath(const char* key, char* buffer_) const {
  if (!GetString(key, buffer_, NAME_BUFFER_SIZE)) {
    ReportDefect("INI Symbol Undefined: ", key, ErrorKind::SymbolUndefined);
    return false;
  }
  return ExpandFolderMacros(buffer_);
}

}  // namespace popbox
