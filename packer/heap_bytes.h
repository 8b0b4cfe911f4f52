// Memory for the packer's large buffers: file contents, the encoder's plan
// and its output chunks.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>

namespace popbox {

struct FreeHeapBytes {
  void operator()(uint8_t* p) const { free(p); }
};
using HeapBytes = std::unique_ptr<uint8_t, FreeHeapBytes>;

// `size` bytes, their values unspecified; throws std::bad_alloc. Blocks of
// 2 MiB or more ask for transparent huge pages: on some machines (virtual
// ones above all) the fault of a fresh 4 KiB page costs more than the
// encoder's work on it, and faults from several threads queue up.
HeapBytes AllocateBytes(size_t size);

// A buffer kept from one use to the next (a file read, a chunk written, a
// plan), so that its memory is faulted in once: it only grows, and is never
// cleared, since only what is written to it is read.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&& other) noexcept { *this = std::move(other); }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {  // leaves `other` empty
    bytes_ = std::move(other.bytes_);
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.size_ = other.capacity_ = 0;
    return *this;
  }

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  // Room for `size` bytes, their values unspecified unless `size` is within
  // the room the buffer already had: then the first `size` stay as they are.
  uint8_t* Resize(size_t size);

 private:
  HeapBytes bytes_;
  size_t size_ = 0, capacity_ = 0;
};

}  // namespace popbox
