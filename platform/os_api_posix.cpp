// Host backend. The shared code composes Windows paths ("dir\sub\file");
// the functions that create, query or remove files take every backslash
// for a separator, match names to existing ones without regard to case as
// Windows does, and hand the kernel slashes. Reading the program's own
// file takes the path as it is.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text.h"
#include "platform/os_api.h"

namespace popbox {

const FileHandle INVALID_FILE = -1;

namespace {

bool (*sameName)(const char*, const char*) = EqualTextNoCase;

// Windows finds "DocS\readme.txt" in a folder made as "Docs": names match
// without regard to case. An element that does not exist as written is
// looked up among its folder's names, and a name of the same length that
// matches takes its place; the elements behind it are left as they are once
// one is found nowhere.
void MatchExistingNames(char* path) {
  // Usually the folder exists as written and only the last name is new:
  // the walk then starts there.
  char* element = path;
  char* last = strrchr(path, '/');
  if (last && last > path) {
    struct stat st;
    *last = 0;
    bool folderExists = lstat(path, &st) == 0;
    *last = '/';
    if (folderExists) element = last + 1;
  }
  while (*element == '/') ++element;
  while (*element) {
    char* end = element;
    while (*end && *end != '/') ++end;
    char kept = *end;
    *end = 0;
    struct stat st;
    bool found = lstat(path, &st) == 0;
    if (!found && errno == ENOENT) {
      char separator = element > path ? element[-1] : 0;
      if (separator) element[-1] = 0;
      DIR* folder = opendir(separator ? (element - 1 > path ? path : "/") : ".");
      if (separator) element[-1] = separator;
      size_t length = static_cast<size_t>(end - element);
      while (folder && !found) {
        const dirent* entry = readdir(folder);
        if (!entry) break;
        if (strlen(entry->d_name) == length && sameName(entry->d_name, element)) {
          memcpy(element, entry->d_name, length);
          found = true;
        }
      }
      if (folder) closedir(folder);
    }
    *end = kept;
    if (!found) return;
    element = end;
    while (*element == '/') ++element;
  }
}

// A host copy of a Windows path: backslashes become slashes, and names
// match existing ones as on Windows.
struct HostPath {
  char text[PATH_MAX];
  bool ok;
  explicit HostPath(const char* path) {
    size_t n = strlen(path);
    ok = n < sizeof text;
    if (!ok) return;
    for (size_t i = 0; i <= n; ++i) text[i] = path[i] == '\\' ? '/' : path[i];
    MatchExistingNames(text);
  }
};

}  // namespace

void SetNameMatch(bool (*same)(const char* a, const char* b)) {
  sameName = same ? same : EqualTextNoCase;
}

uint32_t GetOwnPath(char* buffer, uint32_t size) {
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
  HostPath host(path);
  if (!host.ok) return INVALID_FILE;
  int fd = open(host.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  return fd < 0 ? INVALID_FILE : fd;
}

bool SeekFromStart(FileHandle file, uint32_t offset) {
  return lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) !=
         static_cast<off_t>(-1);
}

bool SkipForward(FileHandle file, uint32_t distance) {
  return lseek(static_cast<int>(file), static_cast<off_t>(distance), SEEK_CUR) !=
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

bool RemoveFile(const char* path) {
  HostPath host(path);
  return host.ok && unlink(host.text) == 0;
}

bool QueryPath(const char* path, bool* isFolder) {
  HostPath host(path);
  struct stat st;
  if (!host.ok || lstat(host.text, &st) != 0) return false;
  *isFolder = S_ISDIR(st.st_mode);
  return true;
}

bool MakeFolder(const char* path) {
  HostPath host(path);
  return host.ok && mkdir(host.text, 0755) == 0;
}

}  // namespace popbox

#include <stdio.h>
#include <stdlib.h>

namespace popbox {

void EndOnOutOfMemory() {
  fputs("popbox: out of memory\n", stderr);
  exit(1);
}

}  // namespace popbox
