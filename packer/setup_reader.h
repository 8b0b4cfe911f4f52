// Reading a setup file record by record with the setup's own payload reader
// (payload/payload_stream.h) over a file the packer opened, for list,
// verify and extract.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "packer/host/host_file.h"
#include "payload/payload_stream.h"

namespace popbox {

struct SetupRecord {
  uint32_t index;   // 1 for the first record
  uint64_t offset;  // of its header in the file
  uint32_t type;
  std::string name;     // code-page bytes, up to a zero byte
  uint32_t nameLength;  // as the header states it
  uint32_t unpackedSize;
  uint32_t packedSize;
  std::vector<uint8_t> contents;  // only when asked for
};

class SetupReader {
 public:
  // Opens the file and the reader on it. Throws PackerError.
  explicit SetupReader(const std::string& path);
  SetupReader(const SetupReader&) = delete;
  SetupReader& operator=(const SetupReader&) = delete;

  uint64_t FileSize() const { return fileSize_; }
  // Reads `size` bytes at `offset`; false when the file is shorter. The
  // walk's position stays where it was.
  bool ReadAt(uint64_t offset, void* buffer, size_t size) const;

  // The next record, as the setup reads it. Throws PackerError naming the
  // file, the record and why the setup could not read it.
  SetupRecord Next(bool keepContents);
  // The offset behind the last record read.
  uint64_t Offset() const { return offset_; }

  // The reader itself, for the setup's own code (script load, extraction);
  // it starts over at the first record when that code opens it.
  PayloadStream& Payload() { return payload_; }

 private:
  std::string WhyUnreadable() const;

  std::string path_;
  HostReadFile file_;
  PayloadStream payload_;
  uint64_t fileSize_ = 0;
  uint64_t offset_;
  uint32_t index_ = 0;
};

// Why a file that is no setup cannot be read.
extern const std::string NOT_A_SETUP;

// "END", "FOLDER", "FILE" or the number.
std::string RecordTypeName(uint32_t type);

}  // namespace popbox
