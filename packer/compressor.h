// Pack's pipeline: the records read and compressed on `jobs` threads and
// handed to the writer strictly in order. Each record's result depends on
// nothing but its own bytes, so the output is the same for any number of
// jobs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "packer/app_folder.h"
#include "packer/common/byte_buffer.h"
#include "packer/common/work_pool.h"
#include "packer/encoder/payload_writer.h"

namespace popbox {

// One record made ready for the payload: its bytes and how they are stored.
struct Prepared {
  size_t size = 0;
  ByteBuffer data;  // a file's bytes when they are stored or compressed by the writer
  RecordContents contents{false, {}};
  bool large = false;  // read only: the writer compresses it with every job
};

// Workers stay at most a window of records and of bytes ahead of the
// writer, which bounds the memory held: MAX_HELD bytes of files and their
// packed forms beside the one large file (LARGE_FILE) the writer works on,
// and never a second large file while the writer holds one. At most `jobs`
// threads compress at any time: a worker takes one of `jobs` permits for
// each file, and the writer takes them all while it compresses a large
// file (reading goes on).
class Compressor {
 public:
  // `compress` false stores every file as it is.
  Compressor(const std::vector<AppRecord>& records, bool compress, unsigned jobs);
  ~Compressor();

  // The record at `index`, the next one in order; rethrows its failure.
  // While it waits, `tick` runs every tenth of a second. The writer is done
  // with the record before.
  Prepared Take(size_t index, const std::function<void()>& tick);

  // Runs compress(scratch) holding every permit: the workers finish the
  // files they compress and start no other meanwhile, so the first one's
  // scratch is free, and its memory serves the large file too.
  uint64_t Alone(const std::function<uint64_t(EncoderScratch*)>& compress);

  std::atomic<uint64_t> encoded{0};  // bytes of small files read and compressed, for the progress

 private:
  static constexpr uint64_t MAX_HELD = uint64_t{32} << 20;

  bool Large(size_t index) const { return compress_ && records_[index].size >= LARGE_FILE; }
  bool MayStart(size_t index) const;
  void Prepare(size_t index, unsigned worker);
  bool TakePermit();
  void ReturnPermit();

  const std::vector<AppRecord>& records_;
  const bool compress_;
  const unsigned jobs_;
  const size_t window_;
  std::vector<uint64_t> before_;  // listed bytes of the records before each
  std::vector<Prepared> slots_;   // record i at i % window_
  std::vector<std::unique_ptr<EncoderScratch>> scratches_;  // worker w's at w - 1, under a permit
  std::vector<ByteBuffer> buffers_;                         // worker w's file bytes, at w - 1

  std::mutex permitMutex_;
  std::condition_variable permitChanged_;
  unsigned permitsTaken_ = 0;  // by workers, or all of them by the writer
  bool writerWaits_ = false;   // for every permit: no worker takes one
  bool stopping_ = false;

  WorkPool pool_;  // last: its threads use everything above, and stop first
};

}  // namespace popbox
