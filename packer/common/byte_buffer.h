// Memory for the packer's large buffers: file contents, the encoder's plan
// and distances, and its output chunks.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <utility>

namespace popbox {

// A buffer kept from one use to the next (a file read, a chunk written, a
// plan), so that its memory is faulted in once: it only grows, and is never
// cleared, since only what is written to it is read.
//
// On some machines (virtual ones above all) faulting in a fresh page costs
// more than the encoder's work on it, and faults from several threads
// queue up. So on Linux a buffer of 2 MiB or more is mapped in whole huge
// pages, and grows by remapping: the pages it has stay, only the new ones
// are faulted in.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ~ByteBuffer() { Release(); }
  ByteBuffer(ByteBuffer&& other) noexcept { *this = std::move(other); }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;  // leaves `other` empty

  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }
  // Room for `size` bytes, their values unspecified unless `size` is within
  // the room the buffer already had: then the first `size` stay as they are.
  // Throws std::bad_alloc.
  uint8_t* Resize(size_t size);

 private:
  void Release();

  uint8_t* bytes_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
  bool mapped_ = false;  // by mmap, not malloc
};

}  // namespace popbox
