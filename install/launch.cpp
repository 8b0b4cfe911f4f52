#include "install/launch.h"

#include <shellapi.h>
#include <string.h>

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "base/text.h"
#include "install/install_paths.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

bool LaunchTarget(const char* path, const char* parameters) {
  char folder[NAME_BUFFER_SIZE];
  lstrcpynA(folder, path, sizeof folder);
  ParentFolderOf(folder);

  const char* dot = strrchr(path, '.');
  HINSTANCE result;
  if (dot && EqualTextNoCase(dot, ".EXE")) {
    result = ShellExecuteA(nullptr, nullptr, path, parameters, folder, SW_SHOWNORMAL);
  } else {
    result = ShellExecuteA(nullptr, nullptr, path, nullptr, folder, 0);
  }
  uintptr_t code = reinterpret_cast<uintptr_t>(result);
  if (code > 32) return true;
  if (code == ERROR_FILE_NOT_FOUND) {
    ReportFailure("File Not Found: ", path);
  } else if (code == ERROR_PATH_NOT_FOUND) {
    ReportFailure("Path Not Found: ", path);
  } else {
    ReportFailure("Can't Execute ", path);
  }
  return false;
}

bool OfferLaunch(HWND owner, const char* installDir) {
  char text[INSTALLED_MESSAGE_SIZE];
  theScript.GetSectionText(SECTION_INSTALLED_MESSAGE, text, sizeof text);
  if (!text[0]) lstrcpyA(text, "Run application?");
  if (MessageBoxA(owner, text, "Success", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return true;

  theScript.SelectSection(SECTION_INSTALL);
  if (!theScript.GetPath(KEY_LINK_TARGET, text)) return false;
  char path[NAME_BUFFER_SIZE];
  if (!ComposePath(path, installDir, text)) {
    ReportFailure("Path Too Long: ", text);
    return false;
  }
  return LaunchTarget(path, "");
}

}  // namespace popbox
