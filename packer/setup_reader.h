// Reading a setup file record by record with the stub's own reader
// (payload_stream.h), for list, verify and extract. Each record is also
// looked at header by header on a handle of our own: the reader does not hand out
// packed sizes, and when it refuses a record the raw header tells why.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace popbox {

struct SetupRecord {
  uint32_t index;   // 1 for the first record
  uint64_t offset;  // of its header in the file
  uint32_t type;
  std::string name;  // code-page bytes
  uint32_t unpackedSize;
  uint32_t packedSize;
  std::vector<uint8_t> contents;  // only when asked for
};

class SetupReader {
 public:
  // Opens the file and the stub's reader on it. Throws PackerError.
  explicit SetupReader(const std::string& path);
  ~SetupReader();
  SetupReader(const SetupReader&) = delete;
  SetupReader& operator=(const SetupReader&) = delete;

  uint64_t FileSize() const { return fileSize_; }
  // Reads `size` bytes at `offset`; false when the file is shorter.
  bool ReadAt(uint64_t offset, void* buffer, size_t size) const;

  // The next record, as the stub reads it. Throws PackerError naming the
  // file, the record and why the stub could not read it.
  SetupRecord Next(bool keepContents);
  // The offset behind the last record read.
  uint64_t Offset() const { return offset_; }

 private:
  std::string WhyUnreadable() const;

  std::string path_;
  std::string ownPath_;
  FILE* file_ = nullptr;
  uint64_t fileSize_ = 0;
  uint64_t offset_;
  uint32_t index_ = 0;
};

// "END", "FOLDER", "FILE" or the number.
std::string RecordTypeName(uint32_t type);

}  // namespace popbox
