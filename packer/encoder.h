// Encoders of the payload compression format (payload_format.h). Both
// produce token streams that UnpackBlob decodes to exactly the input.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace popbox {

// Greedy: at each position the longest match in the window, else a run,
// else a literal. Fast and simple; the yardstick for the optimal encoder.
std::vector<uint8_t> EncodeGreedy(const uint8_t* data, size_t size);

// Optimal: a token sequence of the smallest possible packed size.
std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size);

}  // namespace popbox
