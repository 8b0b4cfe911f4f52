// Writing payload records (payload_format.h) behind the stub image.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

namespace popbox {

class StagedFile;

// An encoder; it adds the bytes it has worked through to `done` as it goes,
// when that is not null.
using Encoder = std::vector<uint8_t> (*)(const uint8_t* data, size_t size,
                                         std::atomic<uint64_t>* done);

// The contents of one file record as they are stored.
struct RecordContents {
  bool compressed;              // false: stored as they are
  std::vector<uint8_t> packed;  // the compressed bytes; empty when stored
};

// Compresses `data` with `encoder` and keeps the result only when it is
// strictly smaller: equal sizes mean "stored" to the reader. The result is
// decoded again and compared before it is accepted, so an encoder fault
// throws std::logic_error instead of producing a setup that cannot install.
RecordContents ChooseContents(const uint8_t* data, size_t size, Encoder encoder,
                              std::atomic<uint64_t>* done = nullptr);

struct PayloadTotals {
  uint32_t folders = 0;
  uint32_t files = 0;
  uint64_t unpackedBytes = 0;  // file contents as installed
  uint64_t storedBytes = 0;    // file contents as stored in the payload
};

// Appends records to `out`, which already holds the stub image.
class PayloadWriter {
 public:
  explicit PayloadWriter(StagedFile& out) : out_(out) {}

  void AddFolder(const std::string& name);
  // `contents` as ChooseContents gave it for `data`, whose size must stay
  // below 0xFFFFFFFF, the largest size the reader accepts plus one.
  // Returns the bytes the setup holds at once to install it: packed and
  // unpacked when it is compressed, else the contents once.
  uint64_t AddFile(const std::string& name, const std::vector<uint8_t>& data,
                   const RecordContents& contents);
  // The end record: 13 bytes, all zero but the magic.
  void Finish();

  const PayloadTotals& Totals() const { return totals_; }

 private:
  void WriteHeader(uint32_t type, const std::string& name, uint32_t unpackedSize,
                   uint32_t packedSize);

  StagedFile& out_;
  PayloadTotals totals_;
};

}  // namespace popbox
