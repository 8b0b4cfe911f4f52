// The encoder of the payload compression format (payload_format.h): a
// token stream that UnpackBlob decodes to exactly the input.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <vector>

namespace popbox {

// Optimal: a token sequence of the smallest possible packed size.
// Adds the bytes it has worked through to `done` as it goes, when given.
std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size,
                                   std::atomic<uint64_t>* done = nullptr);

}  // namespace popbox
