#include "install/install_checks.h"

#include <string.h>

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "base/text.h"
#include "payload/payload_stream.h"
#include "platform/os_api.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

const char UPGRADE_HINT[] =
    "\n\nIf you are trying to upgrade a Quorvane\napplication, first uninstall the old "
    "application\n(run it and click File | Uninstall).";

bool Exists(const char* path) {
  bool isFolder;
  return QueryPath(path, &isFolder);
}

}  // namespace

void NormalizeInstallDir(char* text) {
  TrimText(text);
  size_t n = strlen(text);
  if (n && text[n - 1] == '\\') text[n - 1] = 0;
}

bool IsAbsolutePath(const char* text) {
  size_t n = strlen(text);
  if (n < 3) return false;
  if (text[n - 1] == '\\') return false;
  uint8_t letter = static_cast<uint8_t>(text[0]) & ~0x20;
  if (letter >= 'A' && letter <= 'Z' && text[1] == ':' && text[2] == '\\') return true;
  if (text[0] == '\\' && text[1] == '\\') {
    const char* share = strchr(text + 2, '\\');
    return share && strchr(share + 1, '\\');
  }
  return false;
}

bool CheckTargetsFree(const char* installDir) {
  theScript.SelectSection(SECTION_INSTALL);
  if (Exists(installDir)) {
    ReportFailure("The folder you specified already exists.");
    AppendError(UPGRADE_HINT);
    return false;
  }
  char first[NAME_BUFFER_SIZE];
  char second[NAME_BUFFER_SIZE];
  if (!theScript.GetPath(KEY_START_PROGRAMS_LINK, first)) return false;
  if (!theScript.GetPath(KEY_DESKTOP_LINK, second)) return false;
  if (Exists(first) || Exists(second)) {
    ReportFailure("Cannot overwrite shortcuts.");
    AppendError(UPGRADE_HINT);
    return false;
  }
  return true;
}

bool CheckFolderFits(const char* installDir, PayloadStream& payload) {
  char name[NAME_BUFFER_SIZE];
  // A LinkTarget that cannot be read is the shortcuts' to report; GetPath
  // then leaves the buffer empty, or holding the part before the macro that
  // failed.
  if (!theScript.GetPath(KEY_LINK_TARGET, name)) ClearError();
  size_t longest = strlen(name);
  // Only names are wanted: the walk seeks past every record's contents.
  if (payload.OpenPayload()) {
    uint32_t type;
    while (payload.SkipNextBlob(name, &type) && type != BLOB_END) {
      size_t n = strlen(name);
      if (n > longest) longest = n;
    }
  }
  payload.ClosePayload();
  if (strlen(installDir) + 1 + longest <= MAX_NAME_LENGTH) return true;
  ReportFailure(installDir, "\nis too long. Please choose a shorter folder.");
  return false;
}

bool CreateFolderTree(char* path) {
  char* last = strrchr(path, '\\');
  if (!last) return true;  // a drive such as "C:" is never queried
  bool isFolder;
  if (QueryPath(path, &isFolder)) return isFolder;
  *last = 0;
  bool parentMade = CreateFolderTree(path);
  *last = '\\';
  return parentMade && MakeFolder(path);
}

}  // namespace popbox
