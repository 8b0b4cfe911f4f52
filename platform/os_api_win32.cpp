#include <windows.h>

#include "platform/os_api.h"

namespace popbox {

const FileHandle INVALID_FILE = INVALID_HANDLE_VALUE;

uint32_t GetOwnPath(char* buffer, uint32_t size) {
  // A path that does not fit comes back cut, with the count `size` (and on
  // XP without its zero).
  DWORD n = GetModuleFileNameA(nullptr, buffer, size);
  return n < size ? n : 0;
}

FileHandle OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle CreateForWriting(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool SeekFromStart(FileHandle file, uint32_t offset) {
  return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
         INVALID_SET_FILE_POINTER;
}

bool SkipForward(FileHandle file, uint32_t distance) {
  LONG high = 0;  // with the high part, the distance is taken unsigned
  return SetFilePointer(file, static_cast<LONG>(distance), &high, FILE_CURRENT) !=
             INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR;
}

bool ReadFromFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  DWORD n = 0;
  BOOL ok = ReadFile(file, buffer, size, &n, nullptr);
  *got = n;
  return ok != FALSE;
}

bool WriteToFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
  DWORD n = 0;
  BOOL ok = WriteFile(file, buffer, size, &n, nullptr);
  *written = n;
  return ok != FALSE;
}

void CloseFile(FileHandle file) { CloseHandle(file); }

bool RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool QueryPath(const char* path, bool* isFolder) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  *isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

bool MakeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

}  // namespace popbox

namespace popbox {

void EndOnOutOfMemory() {
  MessageBoxA(nullptr, "Out of memory.", "Cannot Install", MB_OK | MB_ICONHAND | MB_TASKMODAL);
  ExitProcess(0);
}

}  // namespace popbox
