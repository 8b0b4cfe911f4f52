// The payload decoder: one function, used by the stub and by the packer.
#pragma once

#include <stdint.h>

namespace popbox {

// Returned by UnpackBlob for a stream that lies outside the format. It can
// never equal an accepted unpacked size, because a size whose plus-one
// overflows is refused before decoding.
constexpr uint32_t UNPACK_FAILED = 0xFFFFFFFFu;

// Decodes sourceLength packed bytes into destination[start, capacity), where
// destination[0, start) already holds the bytes unpacked before them:
// back-references may reach into that history, never before destination.
// Returns the number of bytes written behind start, or UNPACK_FAILED when
// the stream would write past capacity, copies from distance 0 or from
// before destination, or ends inside a token (or start > capacity). Never
// reads outside source[0, sourceLength) nor writes outside
// destination[start, capacity).
//
// The packer verifies a large record piece by piece with it: each piece is
// unpacked behind a copy of the MAX_DISTANCE input bytes before it.
uint32_t UnpackBlobAt(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t start, uint32_t capacity);

// A whole record: no history. The stub's entry.
inline uint32_t UnpackBlob(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                           uint32_t capacity) {
  return UnpackBlobAt(source, sourceLength, destination, 0, capacity);
}

}  // namespace popbox
