// The decoder against the plain reference decoder.
//
// Input: two bytes, little-endian, give the output capacity; the rest is the
// packed stream. Source and destination are heap blocks of exactly their
// size, so ASan sees any access outside them. UnpackBlob must fail exactly
// when the reference leaves the format, and give the same bytes as the
// reference wherever both wrote.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "payload/unpack.h"
#include "tests/support/reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t capacity = static_cast<uint32_t>(data[0] | (data[1] << 8));
  uint32_t packedSize = static_cast<uint32_t>(size - 2);

  // malloc(0) gives a block of no usable bytes under ASan: every access shows.
  uint8_t* source = static_cast<uint8_t*>(malloc(packedSize));
  memcpy(source, data + 2, packedSize);
  uint8_t* destination = static_cast<uint8_t*>(malloc(capacity));

  uint32_t written = popbox::UnpackBlob(source, packedSize, destination, capacity);
  reference::Decoded expected = reference::Decode(source, packedSize, capacity);

  if (expected.ok) {
    FUZZ_CHECK(written == expected.out.size());
    FUZZ_CHECK(written == 0 || memcmp(destination, expected.out.data(), written) == 0);
  } else {
    FUZZ_CHECK(written == popbox::UNPACK_FAILED);
    FUZZ_CHECK(expected.settled == 0 ||
               memcmp(destination, expected.out.data(), expected.settled) == 0);
  }
  free(source);
  free(destination);
  return 0;
}
