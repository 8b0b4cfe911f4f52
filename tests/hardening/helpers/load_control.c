/* The control for the DLL planting test: loads DLLs by bare name the way
   an ordinary program does, from a folder that holds planted copies, and
   prints where each one came from.

     load-control.exe [--system32-only] NAME...

   With --system32-only it first restricts the search as the setup does
   (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)); it fails with
   exit code 3 when that call is missing. Prints "NAME PATH" or
   "NAME not-loaded" per name; exit code 0. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && strcmp(argv[1], "--system32-only") == 0) {
    first = 2;
    SetDefaultDllDirectoriesFn setDefault = (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (!setDefault || !setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */)) {
      printf("SetDefaultDllDirectories is missing or failed\n");
      return 3;
    }
  }
  for (int i = first; i < argc; ++i) {
    HMODULE module = LoadLibraryA(argv[i]);
    char path[MAX_PATH] = "";
    if (module) GetModuleFileNameA(module, path, sizeof path);
    printf("%s %s\n", argv[i], module ? path : "not-loaded");
  }
  fflush(stdout);
  return 0;
}
