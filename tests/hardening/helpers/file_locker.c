/* Holds a file open with no sharing for a while, so that nobody else can
   open it meanwhile, the way an antivirus scanner or a backup tool may.

     file-locker.exe FILE START RELEASE LOCKED

   Waits until the file START exists, opens FILE for reading with share
   mode 0, creates LOCKED, waits until RELEASE exists and closes FILE.
   Every wait polls and gives up after 60 s. Exit code 0 on success, 1 when
   FILE cannot be opened, 2 on a timeout. */
#include <stdio.h>
#include <windows.h>

static BOOL WaitForFile(const char* path) {
  DWORD start = GetTickCount();
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > 60000) return FALSE;
    Sleep(10);
  }
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: file-locker.exe FILE START RELEASE LOCKED\n");
    return 2;
  }
  if (!WaitForFile(argv[2])) return 2;
  HANDLE file =
      CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "file-locker: cannot open %s (error %lu)\n", argv[1],
            (unsigned long)GetLastError());
    return 1;
  }
  HANDLE locked = CreateFileA(argv[4], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (locked != INVALID_HANDLE_VALUE) CloseHandle(locked);
  BOOL released = WaitForFile(argv[3]);
  CloseHandle(file);
  return released ? 0 : 2;
}
