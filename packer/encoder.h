// The encoder of the payload compression format (payload_format.h): a
// token stream that UnpackBlob decodes to exactly the input.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace popbox {

// Optimal: a token sequence of the smallest possible packed size.
std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size);

}  // namespace popbox
