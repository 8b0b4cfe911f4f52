#include "ui/setup_dialog.h"

#include "base/error_slot.h"
#include "base/path_limits.h"
#include "base/text.h"
#include "install/extract.h"
#include "install/install_checks.h"
#include "install/launch.h"
#include "install/shortcuts.h"
#include "payload/stub_image.h"
#include "script/script_document.h"
#include "script/setup_ini.h"
#include "ui/resource_ids.h"
#include "ui/show_error.h"
#include "ui/web_address.h"

namespace popbox {

namespace {

constexpr int STORE_NAME_SIZE = STORE_NAME_LENGTH + 1;
constexpr int WEB_ADDRESS_READ = WEB_ADDRESS_LENGTH + 1;  // as typed

// Sets an edit field's limit to size - 1 characters, when the dialog has it.
void LimitEditText(HWND dialog, int control, int size) {
  HWND edit = GetDlgItem(dialog, control);
  if (edit) SendMessageA(edit, EM_LIMITTEXT, size - 1, 0);
}

bool IsTicked(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) != 0; }

// Fills the dialog from [Install]. Ends it at once when the proposed folder
// cannot be read.
void FillDialog(HWND dialog) {
  LimitEditText(dialog, IDC_STORE_NAME, STORE_NAME_SIZE);
  LimitEditText(dialog, IDC_WEB_ADDRESS, WEB_ADDRESS_READ);
  theScript.SelectSection(SECTION_INSTALL);
  char text[NAME_BUFFER_SIZE];
  theScript.GetString(KEY_TITLE, text, sizeof text);
  SetWindowTextA(dialog, text);
  if (!theScript.GetPath(KEY_DEFAULT_APP_DIR, text)) {
    ShowError(dialog);
    EndDialog(dialog, 0);
    return;
  }
  SetDlgItemTextA(dialog, IDC_APP_DIR, text);
  theScript.GetString(KEY_APP_DIR_CAPTION, text, sizeof text);
  SetDlgItemTextA(dialog, IDC_APP_DIR_CAPTION, text);
  CheckDlgButton(dialog, IDC_DESKTOP_LINK,
                 theScript.GetBool(KEY_DESKTOP_LINK_SELECTED) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_START_PROGRAMS_LINK,
                 theScript.GetBool(KEY_START_PROGRAMS_LINK_SELECTED) ? BST_CHECKED : BST_UNCHECKED);
}

// A click that clears the only ticked box moves the tick to the other.
void KeepOneTicked(HWND dialog, int clicked) {
  if (IsTicked(dialog, IDC_START_PROGRAMS_LINK) || IsTicked(dialog, IDC_DESKTOP_LINK)) return;
  int other = clicked == IDC_START_PROGRAMS_LINK ? IDC_DESKTOP_LINK : IDC_START_PROGRAMS_LINK;
  CheckDlgButton(dialog, other, BST_CHECKED);
}

// Validates the fields and makes the install folder. False leaves the
// dialog open; the reason has been shown.
bool PrepareInstall(HWND dialog, char* storeName, char* webAddress, char* installDir) {
  if (GetDlgItem(dialog, IDC_STORE_NAME)) {
    GetDlgItemTextA(dialog, IDC_STORE_NAME, storeName, STORE_NAME_SIZE);
    TrimText(storeName);
    GetDlgItemTextA(dialog, IDC_WEB_ADDRESS, webAddress, WEB_ADDRESS_READ);
    NormalizeWebAddress(webAddress);
    if (!*storeName || !*webAddress) {
      ReportFailure("Please enter the store's name and address.", "");
      ShowError(dialog);
      return false;
    }
  }
  GetDlgItemTextA(dialog, IDC_APP_DIR, installDir, NAME_BUFFER_SIZE);
  NormalizeInstallDir(installDir);
  if (!IsAbsolutePath(installDir)) {
    ReportFailure(installDir, "\nis not a valid absolute path.");
    ShowError(dialog);
    return false;
  }
  if (!CheckTargetsFree(installDir) || !CheckFolderFits(installDir)) {
    ShowError(dialog);
    return false;
  }
  if (!CreateFolderTree(installDir)) {
    ReportFailure("Cannot create ", installDir);
    ShowError(dialog);
    return false;
  }
  return true;
}

// OK: validate, then install under the wait cursor, then the closing
// question. From the extraction on, the dialog always ends.
void OnOk(HWND dialog) {
  ClearError();
  char storeName[STORE_NAME_SIZE] = "";
  char webAddress[WEB_ADDRESS_SIZE] = "";
  char installDir[NAME_BUFFER_SIZE] = "";
  if (!PrepareInstall(dialog, storeName, webAddress, installDir)) return;

  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  if (ExtractPayload(installDir, storeName, webAddress)) {
    CreateShortcuts(installDir, IsDlgButtonChecked(dialog, IDC_START_PROGRAMS_LINK) == BST_CHECKED,
                    IsDlgButtonChecked(dialog, IDC_DESKTOP_LINK) == BST_CHECKED);
  }
  SetCursor(previous);

  if (HasError() || !OfferLaunch(dialog, installDir)) {
    ShowError(dialog);
    EndDialog(dialog, 0);
    return;
  }
  EndDialog(dialog, 1);
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      FillDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != 0) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_START_PROGRAMS_LINK:
        case IDC_DESKTOP_LINK:
          KeepOneTicked(dialog, LOWORD(wParam));
          return TRUE;
        case IDOK:
          OnOk(dialog);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void RunSetupDialog(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefDlgProcA;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(STUB_ICON_GROUP));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = "DialogAsMain";
  if (!RegisterClassA(&windowClass)) return;

  // An empty [Vendor] Name asks for the store's name and address.
  theScript.SelectSection(SECTION_VENDOR);
  char name[2];
  bool storeLayout = theScript.GetString(KEY_NAME, name, sizeof name) && !name[0];
  DialogBoxParamA(instance, MAKEINTRESOURCEA(storeLayout ? IDD_SETUP_STORE : IDD_SETUP), nullptr,
                  SetupDialogProc, 0);
}

}  // namespace popbox
