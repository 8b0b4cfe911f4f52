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

}  // namespace popbox
