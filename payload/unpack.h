// The payload decoder: one function, used by the stub and by the packer.
#pragma once

#include <stdint.h>

namespace popbox {

// Returned by UnpackBlob for a stream that lies outside the format. It can
// never equal an accepted unpacked size, because a size whose plus-one
// overflows is refused before decoding.
constexpr uint32_t UNPACK_FAILED = 0xFFFFFFFFu;

// Decodes sourceLength packed bytes into destination, which holds capacity
// bytes. Returns the number of bytes written, or UNPACK_FAILED when the
// stream would write past capacity, copies from distance 0 or from before
// the start of the output, or ends inside a token. Never reads outside
// source[0, sourceLength) nor writes outside destination[0, capacity).
uint32_t UnpackBlob(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                    uint32_t capacity);

}  // namespace popbox
