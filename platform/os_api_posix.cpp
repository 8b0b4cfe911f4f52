// Host backend. The shared code composes Windows paths ("dir\sub\file");
// the functions that create, query or remove files take every backslash
// for a separator and match names to existing ones without regard to case
// as Windows does. They walk the path one element at a time, each opened
// below the descriptor of the folder before it and never through a link,
// so a folder swapped for a link meanwhile stops the call instead of
// sending it elsewhere. Reading the program's own file takes the path as
// it is.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "platform/os_api.h"

namespace popbox {

const FileHandle INVALID_FILE = -1;

namespace {

const uint8_t* foldTable = nullptr;  // null: A-Z folded

std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    uint8_t b = static_cast<uint8_t>(c);
    c = static_cast<char>(foldTable ? foldTable[b] : FoldCase(b));
  }
  return key;
}

// A folder's names under their keys. Scanning the folder for every new
// name would make writing N files into it cost N * N; so each folder is
// read once, the names this process makes are added, and the folder's
// time stamps tell when someone else changed it, which reads it again. A
// change within the file system's tick of this process's own last one
// goes unseen until the stamps move again: a name made then in other case
// is missed, and the name as written made beside it. A name found that is
// gone reads the folder again.
struct FolderIndex {
  bool read = false;
  timespec modified{}, changed{};
  std::unordered_map<std::string, std::string> names;  // key -> name on disk
};
std::map<std::pair<dev_t, ino_t>, FolderIndex> indexes;

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FolderIndex* IndexOf(int folder, bool again) {
  struct stat st;
  if (fstat(folder, &st) != 0) return nullptr;
  FolderIndex& index = indexes[{st.st_dev, st.st_ino}];
  if (!again && index.read && SameTime(index.modified, st.st_mtim) &&
      SameTime(index.changed, st.st_ctim)) {
    return &index;
  }
  index.names.clear();
  index.read = false;
  int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing < 0 ? nullptr : fdopendir(listing);
  if (!dir) {
    if (listing >= 0) close(listing);
    return nullptr;
  }
  while (const dirent* entry = readdir(dir)) index.names.emplace(Key(entry->d_name), entry->d_name);
  closedir(dir);
  // The stamps from before the scan: a change during it reads it again.
  index.read = true;
  index.modified = st.st_mtim;
  index.changed = st.st_ctim;
  return &index;
}

// This process made `name` in `folder`, whose index was current just
// before: the name joins it, and the stamps its making moved are taken.
void NoteMade(int folder, const std::string& name) {
  struct stat st;
  if (fstat(folder, &st) != 0) return;
  auto found = indexes.find({st.st_dev, st.st_ino});
  if (found == indexes.end() || !found->second.read) return;
  found->second.names.emplace(Key(name), name);
  found->second.modified = st.st_mtim;
  found->second.changed = st.st_ctim;
}

// The name under which `element` exists in `folder`: itself when it
// exists as written, else one that matches it without regard to case
// (Windows finds "DocS\readme.txt" in a folder made as "Docs"), else
// itself, new.
std::string Existing(int folder, const std::string& element, bool* isNew) {
  struct stat st;
  *isNew = false;
  if (fstatat(folder, element.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
    return element;
  }
  for (bool again : {false, true}) {
    FolderIndex* index = IndexOf(folder, again);
    if (!index) break;
    auto found = index->names.find(Key(element));
    if (found == index->names.end()) break;
    if (fstatat(folder, found->second.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      return found->second;
    }
    // Gone though the stamps did not move: read it again.
  }
  *isNew = true;
  return element;
}

#ifdef O_PATH
constexpr int FOLDER_FLAGS = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

// The folder that holds the last element of a Windows path, opened one
// element at a time without following a link, and that element as it
// exists there ("." when the path names the start folder itself).
struct Parent {
  int fd = -1;
  std::string last;
  bool isNew = false;  // the last element does not exist yet

  explicit Parent(const char* path) {
    std::string text = path;
    for (char& c : text) {
      if (c == '\\') c = '/';
    }
    fd = open(text[0] == '/' ? "/" : ".", FOLDER_FLAGS);
    size_t at = 0;
    last = ".";
    while (fd >= 0) {
      while (at < text.size() && text[at] == '/') ++at;
      if (at == text.size()) break;
      size_t end = text.find('/', at);
      if (end == std::string::npos) end = text.size();
      std::string element = Existing(fd, text.substr(at, end - at), &isNew);
      at = end;
      while (at < text.size() && text[at] == '/') ++at;
      if (at == text.size()) {
        last = element;
        break;
      }
      int next = openat(fd, element.c_str(), FOLDER_FLAGS);
      close(fd);
      fd = next;
    }
  }
  ~Parent() {
    if (fd >= 0) close(fd);
  }
  Parent(const Parent&) = delete;
  Parent& operator=(const Parent&) = delete;
};

}  // namespace

void SetNameFold(const uint8_t* fold) {
  foldTable = fold;
  indexes.clear();  // their keys were made with the old table
}

uint32_t GetOwnPath(char* buffer, uint32_t size) {
  ssize_t n = readlink("/proc/self/exe", buffer, size);
  if (n <= 0 || static_cast<size_t>(n) >= size) return 0;
  buffer[n] = 0;
  return static_cast<uint32_t>(n);
}

FileHandle OpenForReading(const char* path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer; only a regular
  // file is taken (the flag changes nothing for one).
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return INVALID_FILE;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return INVALID_FILE;
  }
  return fd;
}

FileHandle CreateForWriting(const char* path) {
  Parent parent(path);
  if (parent.fd < 0) return INVALID_FILE;
  // O_NONBLOCK: a FIFO put in the file's place fails at once.
  int fd = openat(parent.fd, parent.last.c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return INVALID_FILE;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return INVALID_FILE;
  }
  if (parent.isNew) NoteMade(parent.fd, parent.last);
  return fd;
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
  Parent parent(path);
  return parent.fd >= 0 && unlinkat(parent.fd, parent.last.c_str(), 0) == 0;
}

bool QueryPath(const char* path, bool* isFolder) {
  Parent parent(path);
  struct stat st;
  if (parent.fd < 0 || fstatat(parent.fd, parent.last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  *isFolder = S_ISDIR(st.st_mode);
  return true;
}

bool MakeFolder(const char* path) {
  Parent parent(path);
  if (parent.fd < 0 || mkdirat(parent.fd, parent.last.c_str(), 0755) != 0) return false;
  if (parent.isNew) NoteMade(parent.fd, parent.last);
  return true;
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
