/* Holds a file open with no sharing, the way an antivirus scanner or a
   backup tool may, so that nobody else can open it meanwhile.

     file-locker.exe FILE LOCKED RELEASE

   Opens FILE for reading with share mode 0, creates LOCKED, waits until
   RELEASE exists (polling, at most 60 s) and closes FILE. */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(10)) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
  }
  CloseHandle(file);
  return 0;
}
