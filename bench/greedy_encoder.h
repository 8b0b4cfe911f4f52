// Greedy encoding: at each position the longest match in the window, else a
// run, else a literal. Fast and simple; the benchmark's yardstick for the
// optimal encoder (packer/encoder/encoder.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace popbox {

std::vector<uint8_t> EncodeGreedy(const uint8_t* data, size_t size);

}  // namespace popbox
