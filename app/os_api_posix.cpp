// Host backend. Paths given to it are host paths; the extraction on the host
// (packer `extract`) hands it paths whose backslashes it has already turned
// into slashes.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/os_api.h"

namespace popbox {

const FileHandle INVALID_FILE = -1;

static const char* ownPathOverride = nullptr;
void OverrideOwnPath(const char* path) { ownPathOverride = path; }

uint32_t GetOwnPath(char* buffer, uint32_t size) {
  if (ownPathOverride) {
    size_t n = strlen(ownPathOverride);
    if (n >= size) return 0;
    memcpy(buffer, ownPathOverride, n + 1);
    return static_cast<uint32_t>(n);
  }
  ssize_t n = readlink("/proc/self/exe", buffer, size);
  if (n <= 0 || static_cast<size_t>(n) >= size) return 0;
  buffer[n] = 0;
  return static_cast<uint32_t>(n);
}

FileHandle OpenForReading(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return INVALID_FILE;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return INVALID_FILE;
  }
  return fd;
}

FileHandle CreateForWriting(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? INVALID_FILE : fd;
}

bool SeekFromStart(FileHandle file, uint32_t offset) {
  return lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) !=
         static_cast<off_t>(-1);
}

// One logical read: the kernel may deliver less than asked for a regular
// file only at its end, or in pieces for very large requests.
bool ReadFromFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  uint32_t total = 0;
  while (total < size) {
    ssize_t n = read(static_cast<int>(file), static_cast<char*>(buffer) + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      *got = total;
      return false;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  *got = total;
  return true;
}

bool WriteToFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
  uint32_t total = 0;
  while (total < size) {
    ssize_t n =
        write(static_cast<int>(file), static_cast<const char*>(buffer) + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = total;
      return false;
    }
    total += static_cast<uint32_t>(n);
  }
  *written = total;
  return true;
}

void CloseFile(FileHandle file) { close(static_cast<int>(file)); }

bool RemoveFile(const char* path) { return unlink(path) == 0; }

bool QueryPath(const char* path, bool* isFolder) {
  struct stat st;
  if (lstat(path, &st) != 0) return false;
  *isFolder = S_ISDIR(st.st_mode);
  return true;
}

bool MakeFolder(const char* path) { return mkdir(path, 0755) == 0; }

}  // namespace popbox

#include <stdio.h>
#include <stdlib.h>

namespace popbox {

void EndOnOutOfMemory() {
  fputs("popbox: out of memory\n", stderr);
  exit(1);
}

}  // namespace popbox
