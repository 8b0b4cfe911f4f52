#include "packer/compressor.h"

#include <utility>

#include "packer/encoder/encoder.h"
#include "packer/host/host_file.h"
#include "payload/payload_format.h"

namespace popbox {

// The window: the record the writer holds, and four per job beyond it.
Compressor::Compressor(const std::vector<AppRecord>& records, bool compress, unsigned jobs)
    : records_(records),
      compress_(compress),
      jobs_(jobs),
      window_(4 * size_t{jobs} + 1),
      before_(records.size() + 1, 0),
      slots_(window_),
      buffers_(jobs),
      pool_(
          jobs, window_, [this](size_t index, unsigned worker) { Prepare(index, worker); },
          [this](size_t index) { return MayStart(index); }) {
  for (size_t i = 0; i < records.size(); ++i) before_[i + 1] = before_[i] + records[i].size;
  for (unsigned i = 0; i < jobs; ++i) scratches_.emplace_back(new EncoderScratch);
  pool_.Extend(records.size());
}

Compressor::~Compressor() {
  {
    std::lock_guard<std::mutex> lock(permitMutex_);
    stopping_ = true;
  }
  permitChanged_.notify_all();
  pool_.Stop();
}

Prepared Compressor::Take(size_t index, const std::function<void()>& tick) {
  if (index > 0) pool_.Release(index - 1);
  pool_.Take(index, tick);
  return std::move(slots_[index % window_]);
}

// Asked under the pool's lock. The next record may be read within the
// window of bytes, and never a second large file while the writer holds
// one, which would hold two large inputs beside the plan at once.
bool Compressor::MayStart(size_t index) const {
  const size_t taken = pool_.Taken();
  const bool writerHoldsLarge = taken > pool_.Released() && Large(taken - 1);
  if (writerHoldsLarge && Large(index)) return false;
  return index == taken || before_[index] - before_[taken] + records_[index].size <= MAX_HELD;
}

uint64_t Compressor::Alone(const std::function<uint64_t(EncoderScratch*)>& compress) {
  {
    std::unique_lock<std::mutex> lock(permitMutex_);
    writerWaits_ = true;
    permitChanged_.wait(lock, [&] { return permitsTaken_ == 0; });
    permitsTaken_ = jobs_;
  }
  struct Release {
    Compressor& c;
    ~Release() {
      {
        std::lock_guard<std::mutex> lock(c.permitMutex_);
        c.permitsTaken_ = 0;
        c.writerWaits_ = false;
      }
      c.permitChanged_.notify_all();
    }
  } release{*this};
  return compress(scratches_[0].get());
}

bool Compressor::TakePermit() {
  std::unique_lock<std::mutex> lock(permitMutex_);
  permitChanged_.wait(lock, [&] { return stopping_ || (!writerWaits_ && permitsTaken_ < jobs_); });
  if (stopping_) return false;
  ++permitsTaken_;
  return true;
}

void Compressor::ReturnPermit() {
  {
    std::lock_guard<std::mutex> lock(permitMutex_);
    --permitsTaken_;
  }
  permitChanged_.notify_all();
}

void Compressor::Prepare(size_t index, unsigned worker) {
  Prepared result;
  const AppRecord& record = records_[index];
  if (record.type == BLOB_FILE) {
    ByteBuffer& bytes = buffers_[worker - 1];
    ReadFileInto(record.hostPath, MAX_FILE_SIZE, &bytes, jobs_, record.id);
    result.size = bytes.size();
    result.large = Large(index);
    if (compress_ && !result.large) {
      if (!TakePermit()) return;  // stopping: nobody takes the result
      try {
        result.contents = ChooseContents(bytes.data(), bytes.size(), scratches_[worker - 1].get());
      } catch (...) {
        ReturnPermit();
        throw;
      }
      ReturnPermit();
    }
    // The writer needs the bytes themselves only when it stores them or
    // compresses them; else the buffer serves the next file.
    if (!result.contents.compressed) result.data = std::move(bytes);
    if (!result.large) encoded += result.size;
  }
  slots_[index % window_] = std::move(result);
}

}  // namespace popbox
