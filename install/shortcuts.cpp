#include "install/shortcuts.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "install/install_paths.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {
// The published identifiers, spelled out so that no import library of GUIDs
// is needed.
const CLSID CLSID_SHELL_LINK = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_SHELL_LINK_A = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_PERSIST_FILE = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}  // namespace

// The outcome is that of the last of CoCreateInstance, QueryInterface and
// Save that ran; SetPath and SetWorkingDirectory never decide it.
bool CreateShortcut(const char* target, const char* linkFile) {
  IShellLinkA* link = nullptr;
  HRESULT result = CoCreateInstance(CLSID_SHELL_LINK, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_SHELL_LINK_A, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(result)) {
    link->SetPath(target);
    char folder[NAME_BUFFER_SIZE];
    lstrcpynA(folder, target, sizeof folder);
    ParentFolderOf(folder);
    link->SetWorkingDirectory(folder);
    IPersistFile* file = nullptr;
    result = link->QueryInterface(IID_PERSIST_FILE, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) {
      WCHAR wideName[NAME_BUFFER_SIZE];
      MultiByteToWideChar(CP_ACP, 0, linkFile, -1, wideName, NAME_BUFFER_SIZE);
      result = file->Save(wideName, TRUE);
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(result)) return true;
  ReportFailure("Can't create link:\n", linkFile);
  return false;
}

bool CreateShortcuts(const char* installDir, bool startMenu, bool desktop) {
  theScript.SelectSection(SECTION_INSTALL);
  char value[NAME_BUFFER_SIZE];
  if (!theScript.GetPath(KEY_LINK_TARGET, value)) return false;
  char target[NAME_BUFFER_SIZE];
  if (!ComposePath(target, installDir, value)) {
    ReportFailure("Path Too Long: ", value);
    return false;
  }
  if (startMenu) {
    if (!theScript.GetPath(KEY_START_PROGRAMS_LINK, value)) return false;
    if (!CreateShortcut(target, value)) return false;
  }
  if (desktop) {
    if (!theScript.GetPath(KEY_DESKTOP_LINK, value)) return false;
    if (!CreateShortcut(target, value)) return false;
  }
  return true;
}

}  // namespace popbox
