// Example Viewer: the application that the example setup installs. One
// window titled "Example Viewer" shows readme.txt, read from the folder of
// the program file, in a read-only multi-line edit field.
#include <windows.h>

namespace {

const char CLASS_NAME[] = "ExampleViewer";
const char README_NAME[] = "readme.txt";
// Large enough for any readme this example ships; a longer file is cut.
const DWORD README_LIMIT = 1 << 20;

HWND editField;

// The edit field breaks lines only at CR LF, so lone LF bytes get a CR.
// Returns a heap block (HeapFree) or nullptr.
char* WithCrLf(const char* text, DWORD length) {
  char* out = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 2 * length + 1));
  if (!out) return nullptr;
  DWORD n = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out[n++] = '\r';
    out[n++] = text[i];
  }
  out[n] = '\0';
  return out;
}

// Builds the path of readme.txt beside the program file. False when the
// path does not fit.
bool ReadmePath(char* path, DWORD size) {
  DWORD length = GetModuleFileNameA(nullptr, path, size);
  if (length == 0 || length >= size) return false;
  while (length > 0 && path[length - 1] != '\\') --length;
  if (length + sizeof README_NAME > size) return false;
  lstrcpyA(path + length, README_NAME);
  return true;
}

// The text to show: the readme, or a line that says why it is missing.
// Returns a heap block (HeapFree) or nullptr.
char* LoadReadme() {
  char path[MAX_PATH];
  if (!ReadmePath(path, sizeof path)) return nullptr;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  char* raw = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, README_LIMIT));
  DWORD got = 0;
  bool ok = file != INVALID_HANDLE_VALUE && raw && ReadFile(file, raw, README_LIMIT, &got, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok && raw) {
    // wsprintfA writes at most 1024 bytes.
    got = static_cast<DWORD>(wsprintfA(raw, "Cannot read %s", path));
  }
  char* text = raw ? WithCrLf(raw, got) : nullptr;
  if (raw) HeapFree(GetProcessHeap(), 0, raw);
  return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      editField = CreateWindowExA(
          WS_EX_CLIENTEDGE, "EDIT", "",
          WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0,
          0, window, nullptr, reinterpret_cast<CREATESTRUCTA*>(lParam)->hInstance, nullptr);
      if (!editField) return -1;
      SendMessageA(editField, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                   FALSE);
      SendMessageA(editField, EM_SETLIMITTEXT, 0, 0);  // no limit below the system's
      char* text = LoadReadme();
      SetWindowTextA(editField, text ? text : "Cannot read readme.txt");
      if (text) HeapFree(GetProcessHeap(), 0, text);
      return 0;
    }
    case WM_SIZE:
      MoveWindow(editField, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETFOCUS:
      SetFocus(editField);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = CLASS_NAME;
  if (!RegisterClassA(&windowClass)) return 1;

  HWND window = CreateWindowExA(0, CLASS_NAME, "Example Viewer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 560, 420, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
