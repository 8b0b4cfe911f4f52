// Host file input and output for the packer: reading a whole file with its
// size checked first, and writing an output file so that it appears
// complete or not at all.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace popbox {

// The whole of a regular file. Throws PackerError naming `path` when it
// cannot be opened or read, is not a regular file, or is larger than
// maxSize bytes (checked from fstat before any byte is read).
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize);

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
