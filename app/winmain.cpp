// The program's entry. The setup takes nothing from its command line or
// environment: everything comes from its own payload, the script in it and
// the registry. The exit code is 0 on every path.
#include <windows.h>

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "platform/os_api.h"
#include "script/script_document.h"
#include "script/setup_ini.h"
#include "ui/setup_dialog.h"
#include "ui/show_error.h"

namespace {

// A setup is often run from a Downloads folder full of other files: load
// DLLs from the system folder only, so that none planted beside the setup
// is picked up. SetDefaultDllDirectories exists on Windows 8 and later (and
// on 7 and Vista with an update); it is looked up at run time. On Vista the
// restricted search breaks creating the shell-link object, so it stays off
// there.
void LoadDllsFromSystemFolderOnly() {
  DWORD version = GetVersion();
  if (LOBYTE(LOWORD(version)) == 6 && HIBYTE(LOWORD(version)) == 0) return;  // Vista
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace popbox;
  LoadDllsFromSystemFolderOnly();
  if (FAILED(CoInitialize(nullptr))) return 0;
  ClearError();
  // The setup reads itself through its own path: one that does not fit in
  // MAX_PATH would be opened cut short.
  char ownPath[NAME_BUFFER_SIZE];
  if (!GetOwnPath(ownPath, sizeof ownPath)) {
    ReportFailure(
        "This setup cannot run from a folder with so long a path.\n"
        "Move it to a shorter folder and start it again.");
    ShowError(nullptr);
  } else if (theScript.LoadFromPayload(SETUP_SCRIPT_NAME)) {
    RunSetupDialog(instance);
  } else {
    ShowError(nullptr);  // "Missing BLOB: Setup.ini", task-modal
  }
  CoUninitialize();
  return 0;
}
