/* A DLL planted beside a setup under a system DLL's name. It does nothing
   but tell that it was loaded: on process attach it writes a marker file
   named after itself (version.dll.loaded, ...) into the folder named by the
   environment variable POPBOX_PLANT_MARKERS (C:\popbox-planted without
   it). The marker holds the path of the program that loaded it. */
#include <string.h>
#include <windows.h>

static void WriteMarker(HINSTANCE self) {
  char own[MAX_PATH], folder[MAX_PATH], marker[2 * MAX_PATH], program[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, own, sizeof own);
  if (n == 0 || n >= sizeof own) return;
  const char* base = strrchr(own, '\\');
  base = base ? base + 1 : own;
  n = GetEnvironmentVariableA("POPBOX_PLANT_MARKERS", folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) lstrcpyA(folder, "C:\\popbox-planted");
  CreateDirectoryA(folder, NULL);
  lstrcpyA(marker, folder);
  lstrcatA(marker, "\\");
  lstrcatA(marker, base);
  lstrcatA(marker, ".loaded");
  HANDLE file =
      CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  n = GetModuleFileNameA(NULL, program, sizeof program);
  DWORD written = 0;
  if (n > 0 && n < sizeof program) WriteFile(file, program, n, &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
  return TRUE;
}
