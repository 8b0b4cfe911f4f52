// Writing the tokens of the payload compression format (payload_format.h):
// the one place where the escape byte and the code-byte layout are
// composed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "payload/payload_format.h"

namespace popbox {

// A plain byte; the escape byte itself becomes DF 00.
inline void PutLiteral(std::vector<uint8_t>& out, uint8_t b) {
  out.push_back(b);
  if (b == ESCAPE_BYTE) out.push_back(0);
}

// `count` (1..MAX_RUN) copies of `b`.
inline void PutRun(std::vector<uint8_t>& out, size_t count, uint8_t b) {
  out.push_back(ESCAPE_BYTE);
  out.push_back(static_cast<uint8_t>(count));
  out.push_back(b);
}

// `length` (MIN_MATCH..MAX_MATCH) bytes from `distance` (1..MAX_DISTANCE)
// back: the code byte holds length + 12 in bits 7-3 and distance bits 10-8.
inline void PutMatch(std::vector<uint8_t>& out, size_t length, size_t distance) {
  out.push_back(ESCAPE_BYTE);
  out.push_back(static_cast<uint8_t>(((length + 12) << 3) | (distance >> 8)));
  out.push_back(static_cast<uint8_t>(distance & 0xFF));
}

}  // namespace popbox
