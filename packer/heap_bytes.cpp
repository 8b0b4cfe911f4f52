#include "packer/heap_bytes.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace popbox {

HeapBytes AllocateBytes(size_t size) {
  void* p = nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kHuge = size_t{2} << 20;
  if (size >= kHuge) {
    const size_t rounded = (size + kHuge - 1) / kHuge * kHuge;
    p = aligned_alloc(kHuge, rounded);
    if (p) madvise(p, rounded, MADV_HUGEPAGE);
  }
#endif
  if (!p) p = malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return HeapBytes(static_cast<uint8_t*>(p));
}

uint8_t* ByteBuffer::Resize(size_t size) {
  if (size > capacity_) {
    bytes_.reset();  // the old bytes are not kept: let their memory go first
    bytes_ = AllocateBytes(size);
    capacity_ = size;
  }
  size_ = size;
  return bytes_.get();
}

}  // namespace popbox
