// The operating-system calls that the payload reader, the script saver and
// the extraction make, as a compile-time interface of plain functions. The
// Win32 backend (os_api_win32.cpp) makes exactly the calls and flags the
// stub needs; the POSIX backend (os_api_posix.cpp) lets the same code run
// on the host, in the packer and in its tests. No runtime dispatch: a build
// links one backend.
#pragma once

#include <stdint.h>

namespace popbox {

#ifdef _WIN32
using FileHandle = void*;  // a Win32 HANDLE
#else
using FileHandle = intptr_t;  // a file descriptor
#endif

extern const FileHandle INVALID_FILE;

// Full path of the running program's own file (GetModuleFileNameA for the
// module itself). Returns its length; 0 on failure and when the path does
// not fit in `size` bytes with its zero, so that a cut path is never used.
uint32_t GetOwnPath(char* buffer, uint32_t size);

#ifndef _WIN32
// The host backend finds an existing name that matches a written one as
// Windows would: by default without regard to the case of A to Z; host
// tools that know the code page give a fuller match as a table of 256
// bytes, each byte mapped to the one it stands for (its letter's other
// case mapped alike). Null restores the default.
void SetNameFold(const uint8_t* fold);
#endif

// Opens an existing file for reading; others may read it meanwhile.
FileHandle OpenForReading(const char* path);
// Creates or truncates a file for writing, shared with nobody.
FileHandle CreateForWriting(const char* path);
// Moves the file pointer to `offset` bytes from the start.
bool SeekFromStart(FileHandle file, uint32_t offset);
// Moves the file pointer `distance` bytes on from where it is.
bool SkipForward(FileHandle file, uint32_t distance);
// One read of up to `size` bytes; `got` receives the count delivered.
bool ReadFromFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got);
// One write of `size` bytes; `written` receives the count written.
bool WriteToFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written);
void CloseFile(FileHandle file);
bool RemoveFile(const char* path);

// GetFileAttributesA: false when nothing of that name exists; otherwise
// true, with isFolder telling whether it is a folder.
bool QueryPath(const char* path, bool* isFolder);
// CreateDirectoryA with default security: one folder whose parent exists.
bool MakeFolder(const char* path);

// Ends the process when memory for the script cannot be had. The script is
// a few kilobytes: this happens only on a machine that is out of memory.
[[noreturn]] void EndOnOutOfMemory();

}  // namespace popbox
