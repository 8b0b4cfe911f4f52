// Shared by the fuzz targets: a check that holds in every build type, and
// the band of record sizes worth skipping.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include "payload/payload_format.h"

#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      abort();                                                                       \
    }                                                                                \
  } while (0)

namespace fuzz {

// Record sizes are arbitrary. Blocks above 64 MiB are refused (ASan returns
// null, as a 32-bit process would); inputs whose records ask for a block of
// 1 to 64 MiB behave as small and refused ones do, only far slower: skipped.
inline bool AsksForSlowBlock(const uint8_t* payload, size_t size) {
  auto slow = [](uint32_t n) {
    return uint64_t(n) + 1 > (1u << 20) && uint64_t(n) + 1 <= (64u << 20);
  };
  for (size_t at = 0; size - at >= popbox::BLOB_HEADER_SIZE;) {
    popbox::BlobHeader h = popbox::BlobHeader::Parse(payload + at);
    if (slow(h.unpackedSize) || slow(h.packedSize)) return true;
    uint64_t next = uint64_t(at) + popbox::BLOB_HEADER_SIZE + h.nameLength + h.packedSize;
    if (next > size) return false;
    at = size_t(next);
  }
  return false;
}

}  // namespace fuzz
