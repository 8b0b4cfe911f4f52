// The packer's file system layer: listing folders, asking what a path is,
// reading a whole file, and writing an output file so that it appears
// complete or not at all. Paths are host paths in UTF-8; one backend per
// platform (host_file_posix.cpp, host_file_win32.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace popbox {

// A file's identity, to spot one file (the output) or a folder seen before.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool valid = false;
  bool operator==(const FileIdentity& o) const {
    return valid && o.valid && device == o.device && inode == o.inode;
  }
};

enum class HostKind { Missing, File, Folder, Link, Other };

struct HostStat {
  HostKind kind = HostKind::Missing;
  uint64_t size = 0;
  FileIdentity id;
  int error = 0;  // errno when kind is Missing
};

// What `path` is. With followLinks false a symbolic link shows as Link.
HostStat StatHost(const std::string& path, bool followLinks);

// The names in a folder except "." and "..", in no particular order.
// False, with errno in `error`, when the folder cannot be read.
bool ListHostFolder(const std::string& path, std::vector<std::string>* names, int* error);

// The absolute path with every symbolic link resolved, or empty when some
// part of it does not exist.
std::string RealHostPath(const std::string& path);

// The whole of a regular file. Throws PackerError naming `path` when it
// cannot be opened or read, is not a regular file, or is larger than
// maxSize bytes (checked from fstat before any byte is read).
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize);

// The folder that holds the running program, with a trailing separator.
std::string OwnFolder();

// isatty for standard error.
bool StderrIsTerminal();

// Opens a file for reading in binary mode, or null.
FILE* OpenHostFile(const std::string& path);

// The path under which the stub's reader (os_api.h, OverrideOwnPath)
// reaches `file`, opened from `path`; empty when there is none.
std::string ReaderPathFor(FILE* file, const std::string& path);

// An output file written to a temporary file beside its final path and
// renamed onto it by Commit. Until then the final path is untouched; if
// Commit is never reached, the destructor removes the temporary file.
class StagedFile {
 public:
  explicit StagedFile(const std::string& finalPath);  // throws PackerError
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void Write(const void* data, size_t size);  // throws PackerError
  uint64_t BytesWritten() const { return written_; }
  // Flushes, syncs, closes and renames onto the final path.
  void Commit();  // throws PackerError

 private:
  std::string finalPath_;
  std::string tempPath_;
  FILE* file_ = nullptr;
  uint64_t written_ = 0;
  bool committed_ = false;
};

}  // namespace popbox
