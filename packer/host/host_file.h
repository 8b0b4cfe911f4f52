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

#include "packer/common/byte_buffer.h"
#include "platform/os_api.h"

namespace popbox {

struct CodePage;

// A file's identity, to spot one file (the output) or a folder seen before.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool valid = false;
  bool operator==(const FileIdentity& o) const {
    return valid && o.valid && device == o.device && inode == o.inode;
  }
};

// What separates the folders of a host path.
#ifdef _WIN32
constexpr const char* HOST_SEPARATORS = "/\\";
#else
constexpr const char* HOST_SEPARATORS = "/";
#endif

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

// The whole of a regular file into `into`, whose memory serves again for
// the next file: packing reads every file once, and a zeroed buffer for
// each cost as much as the read. Throws PackerError naming `path`
// when it cannot be opened or read, is not a regular file, changes while
// it is read, or is larger than maxSize bytes (checked from fstat before
// any byte is read), or is not the file `expected` names, when that is
// valid: the file check looked at, not one swapped in since. On POSIX a
// LARGE_FILE (work_pool.h) is read in `threads` parts side by side:
// faulting the buffer's fresh memory in can cost more than the copy (on
// virtual machines above all), and faults on several cores proceed
// together.
void ReadFileInto(const std::string& path, uint64_t maxSize, ByteBuffer* into, unsigned threads = 1,
                  const FileIdentity& expected = FileIdentity());

// The refusal of a file that is not the one `expected` named.
[[noreturn]] void RefuseSwappedFile(const std::string& path);

// The same, as a vector of its own.
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize);

// The folder that holds the running program, with a trailing separator.
std::string OwnFolder();

// isatty for standard error.
bool StderrIsTerminal();

// A regular file opened for reading, as a handle of the setup's own file
// interface (platform/os_api.h), so that the setup's reader can walk it.
class HostReadFile {
 public:
  // Throws PackerError when the file cannot be opened or is no regular file.
  explicit HostReadFile(const std::string& path);
  ~HostReadFile();
  HostReadFile(const HostReadFile&) = delete;
  HostReadFile& operator=(const HostReadFile&) = delete;

  FileHandle Handle() const { return handle_; }
  uint64_t Size() const { return size_; }
  // Reads `size` bytes at `offset`, leaving the file position where it was;
  // false when the file is shorter.
  bool ReadAt(uint64_t offset, void* buffer, size_t size) const;

 private:
  FileHandle handle_;
  uint64_t size_ = 0;
};

// Makes `folder` the current folder for the object's life, so that the
// setup's own extraction can write below "." however long the host path.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder);  // throws PackerError
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  intptr_t previousFolder_ = -1;  // POSIX: a descriptor of the folder left
  std::string previousPath_;      // Windows: its path
};

// While set, the setup's file calls match a name to an existing one as
// Windows does, without regard to the case of the code page's letters (on
// Windows they do that anyway). Null restores the default.
void MatchNamesInCodePage(const CodePage* page);

// The record-name bytes from which the setup's file calls made the host
// name `name`: the name itself on POSIX, its ANSI code page form on Windows.
std::string WrittenNameBytes(const std::string& name);

bool MakeHostFolder(const std::string& path, int* error);
// Writes a new file; throws PackerError when it exists or cannot be written.
void WriteNewHostFile(const std::string& path, const std::string& bytes);
bool RenameHost(const std::string& from, const std::string& to, int* error);

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

#ifndef _WIN32
// The file `name` in the first folder of PATH that has it as a program, or
// empty.
std::string FindOnPath(const std::string& name);

// Runs the program `arguments[0]` with the rest as its arguments and waits
// for it; its exit code, or -1 when it could not be started or was ended
// by a signal. Meanwhile Ctrl-C and Ctrl-\ go to the program alone, which
// cleans up and answers for both.
int RunHostProgram(const std::vector<std::string>& arguments);
#endif

}  // namespace popbox
