// The encoder of the payload compression format (payload_format.h): a
// token stream that UnpackBlob decodes to exactly the input.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <vector>

namespace popbox {

// What the encoder keeps from one input to the next on one thread: the
// match finder's tables and the plan, distance and chunk buffers, so that
// many files do not set them up (and fault their memory in) again each.
// Used by one thread at a time.
class EncoderScratch {
 public:
  EncoderScratch();
  ~EncoderScratch();
  struct Parts;
  std::unique_ptr<Parts> parts;
};

// Optimal: a token sequence of the smallest possible packed size. The same
// bytes as OptimalEncoder with any number of jobs; one thread.
std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size,
                                   EncoderScratch* scratch = nullptr);

struct OptimalOptions {
  unsigned jobs = 1;                  // threads, the caller's among them
  EncoderScratch* scratch = nullptr;  // the calling thread's, or null
  // Bytes per planning piece; 0 picks one. Changes only how the work is
  // cut up, never the packed size; the bytes only where distances are kept
  // (tests use small pieces).
  size_t pieceSize = 0;
  // Inputs up to 16 MiB keep the distance the match search found for each
  // position (2 bytes each); larger ones, or all when this is set, search
  // each back-reference's distance again while writing: the nearest.
  bool searchDistances = false;
  // Called on the caller's thread with the input bytes done so far, out of
  // 2 * size: each byte counts once when planned and once when written.
  std::function<void(uint64_t done)> progress;
};

// The optimal encoding of one input, for inputs of any size below 4 GiB,
// planned on several threads and written out piece by piece:
//
//   OptimalEncoder encoder(data, size, options);   // the whole parse
//   if (encoder.PackedSize() < size) {             // exact, before any output
//     write the record header with PackedSize();
//     encoder.Write([&](const uint8_t* p, size_t n) { out.Write(p, n); });
//   }
//
// Memory: one byte per input byte for the plan (three for inputs up to
// 16 MiB, which keep distances), plus a bounded amount per thread and per
// piece in flight (a few MiB each), never the whole packed stream nor a
// decoded copy. The bytes produced are the same for any jobs, and for any
// pieceSize when distances are searched.
class OptimalEncoder {
 public:
  // `data` must outlive the encoder; `size` must stay below 2^32 - 1.
  OptimalEncoder(const uint8_t* data, size_t size, const OptimalOptions& options = {});
  ~OptimalEncoder();
  OptimalEncoder(const OptimalEncoder&) = delete;
  OptimalEncoder& operator=(const OptimalEncoder&) = delete;

  uint64_t PackedSize() const;

  // Hands the packed stream to `sink` in order, in chunks, on the caller's
  // thread. Each chunk is first unpacked behind the MAX_DISTANCE input bytes
  // before it and compared with the input; a difference (an encoder fault)
  // throws std::logic_error before that chunk reaches the sink. Call once.
  void Write(const std::function<void(const uint8_t* bytes, size_t count)>& sink);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace popbox
