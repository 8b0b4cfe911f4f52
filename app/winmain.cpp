// The program's entry. The setup takes nothing from its command line or
// environment: everything comes from its own payload, the script in it and
// the registry. The exit code is 0 on every path.
#include <windows.h>

#include "app/error_slot.h"
#include "app/show_error.h"
#include "app/the_script.h"
#include "ui/setup_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace popbox;
  if (FAILED(CoInitialize(nullptr))) return 0;
  ClearError();
  if (theScript.LoadFromPayload("Setup.ini")) {
    RunSetupDialog(instance);
  } else {
    ShowError(nullptr);  // "Missing BLOB: Setup.ini", task-modal
  }
  CoUninitialize();
  return 0;
}
