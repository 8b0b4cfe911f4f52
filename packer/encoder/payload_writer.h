// Writing payload records (payload_format.h) behind the stub image.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace popbox {

class EncoderScratch;

// The contents of one file record as they are stored.
struct RecordContents {
  bool compressed;              // false: stored as they are
  std::vector<uint8_t> packed;  // the compressed bytes; empty when stored
};

// Compresses `data` on one thread with the optimal encoder, which decodes
// what it writes and compares it before handing it out, and keeps the
// result only when it is strictly smaller: equal sizes mean "stored" to the
// reader.
RecordContents ChooseContents(const uint8_t* data, size_t size, EncoderScratch* scratch = nullptr);

struct PayloadTotals {
  uint32_t folders = 0;
  uint32_t files = 0;
  uint64_t unpackedBytes = 0;  // file contents as installed
  uint64_t storedBytes = 0;    // file contents as stored in the payload
};

// Where the records go, in order: the output behind the stub image.
using ByteSink = std::function<void(const void* bytes, size_t count)>;

// Appends records to `out`, which has already taken the stub image.
class PayloadWriter {
 public:
  explicit PayloadWriter(ByteSink out);

  void AddFolder(const std::string& name);
  // `contents` as ChooseContents gave it for `data`, whose `size` must stay
  // below 0xFFFFFFFF, the largest size the reader accepts plus one.
  // Returns the bytes the setup holds at once to install it: packed and
  // unpacked when it is compressed, else the contents once.
  uint64_t AddFile(const std::string& name, const uint8_t* data, size_t size,
                   const RecordContents& contents);
  // The same for a file compressed here, on `jobs` threads, and written as
  // it is encoded, so that its packed stream is never held whole: the
  // exact packed size is known before the first byte. Stored when
  // compressing does not make it strictly smaller. `scratch` is the
  // calling thread's for the while (see EncoderScratch); `progress` gets
  // the bytes done, out of 2 * size.
  uint64_t AddFileCompressing(const std::string& name, const uint8_t* data, size_t size,
                              unsigned jobs, EncoderScratch* scratch,
                              const std::function<void(uint64_t)>& progress);
  // The end record: 13 bytes, all zero but the magic.
  void Finish();

  const PayloadTotals& Totals() const { return totals_; }

 private:
  void WriteHeader(uint32_t type, const std::string& name, uint32_t unpackedSize,
                   uint32_t packedSize);

  ByteSink out_;
  PayloadTotals totals_;
};

}  // namespace popbox
