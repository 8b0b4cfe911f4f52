// Shared by the fuzz targets: a check that holds in every build type, and
// the plain reference decoder to compare the real one against.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include "payload/payload_format.h"
#include "tests/support/reference_decoder.h"

namespace fuzz {

// Record sizes are arbitrary. Blocks above 64 MiB are refused (the targets
// have ASan return null, as a 32-bit process would); inputs that ask for a
// block between 1 and 64 MiB are passed over: they behave as the small and
// the refused ones do, only far slower.
constexpr uint64_t SLOW_FROM = 1 << 20;
constexpr uint64_t REFUSED_FROM = 64 << 20;

inline bool InSlowBand(uint32_t size) {
  uint64_t block = static_cast<uint64_t>(size) + 1;
  return block > SLOW_FROM && block <= REFUSED_FROM;
}

// True when a record header that a reader of this payload meets asks for
// a block in the slow band. The walk follows the stated lengths and stops
// where the input ends.
inline bool AsksForSlowBlock(const uint8_t* payload, size_t size) {
  size_t at = 0;
  while (size - at >= popbox::BLOB_HEADER_SIZE) {
    popbox::BlobHeader h = popbox::BlobHeader::Parse(payload + at);
    if (InSlowBand(h.unpackedSize) || InSlowBand(h.packedSize)) return true;
    uint64_t next =
        static_cast<uint64_t>(at) + popbox::BLOB_HEADER_SIZE + h.nameLength + h.packedSize;
    if (next > size) return false;
    at = static_cast<size_t>(next);
  }
  return false;
}

}  // namespace fuzz
// A check that holds in every build type: a failure aborts, and libFuzzer
// keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      abort();                                                                       \
    }                                                                                \
  } while (0)
