#include "packer/common/byte_buffer.h"

#include <stdlib.h>

#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace popbox {

#if defined(__linux__) && defined(MADV_HUGEPAGE) && defined(MREMAP_MAYMOVE)
#define POPBOX_MAPPED_BUFFERS 1
#endif

#if POPBOX_MAPPED_BUFFERS
// `size` bytes mapped at a multiple of `alignment` (a power of two, as is
// the page size), so that huge pages can back all of them.
static void* MapAligned(size_t size, size_t alignment) {
  void* p =
      mmap(nullptr, size + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return p;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = (start + alignment - 1) & ~uintptr_t{alignment - 1};
  if (aligned > start) munmap(p, aligned - start);
  munmap(reinterpret_cast<void*>(aligned + size), start + alignment - aligned);
  return reinterpret_cast<void*>(aligned);
}
#endif

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(mapped_, other.mapped_);
  }
  return *this;
}

void ByteBuffer::Release() {
#if POPBOX_MAPPED_BUFFERS
  if (mapped_) {
    munmap(bytes_, capacity_);
  } else {
    free(bytes_);
  }
#else
  free(bytes_);
#endif
  bytes_ = nullptr;
  size_ = capacity_ = 0;
  mapped_ = false;
}

uint8_t* ByteBuffer::Resize(size_t size) {
  if (size > capacity_) {
#if POPBOX_MAPPED_BUFFERS
    constexpr size_t HUGE_PAGE = size_t{2} << 20;
    if (size >= HUGE_PAGE) {
      const size_t rounded = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
      void* p;
      if (mapped_) {
        p = mremap(bytes_, capacity_, rounded, MREMAP_MAYMOVE);
      } else {
        Release();  // its bytes need not be kept: let their memory go first
        p = MapAligned(rounded, HUGE_PAGE);
      }
      if (p == MAP_FAILED) throw std::bad_alloc();
      madvise(p, rounded, MADV_HUGEPAGE);
      bytes_ = static_cast<uint8_t*>(p);
      capacity_ = rounded;
      mapped_ = true;
      size_ = size;
      return bytes_;
    }
#endif
    Release();
    bytes_ = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (!bytes_) throw std::bad_alloc();
    capacity_ = size;
  }
  size_ = size;
  return bytes_;
}

}  // namespace popbox
