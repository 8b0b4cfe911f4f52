// Writing the tokens of the payload compression format (payload_format.h):
// the one place where the escape byte and the code-byte layout are
// composed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "payload/payload_format.h"

namespace popbox {

// Each token written to raw memory with room for 3 bytes; returns the byte
// after it.

// A plain byte; the escape byte itself becomes DF 00.
inline uint8_t* PutLiteral(uint8_t* out, uint8_t b) {
  *out++ = b;
  if (b == ESCAPE_BYTE) *out++ = 0;
  return out;
}

// `count` (1..MAX_RUN) copies of `b`.
inline uint8_t* PutRun(uint8_t* out, size_t count, uint8_t b) {
  out[0] = ESCAPE_BYTE;
  out[1] = static_cast<uint8_t>(count);
  out[2] = b;
  return out + 3;
}

// `length` (MIN_MATCH..MAX_MATCH) bytes from `distance` (1..MAX_DISTANCE)
// back: the code byte holds length + 12 in bits 7-3 and distance bits 10-8.
inline uint8_t* PutMatch(uint8_t* out, size_t length, size_t distance) {
  out[0] = ESCAPE_BYTE;
  out[1] = static_cast<uint8_t>(((length + 12) << 3) | (distance >> 8));
  out[2] = static_cast<uint8_t>(distance & 0xFF);
  return out + 3;
}

// The same, appended to a vector.
inline void PutLiteral(std::vector<uint8_t>& out, uint8_t b) {
  uint8_t token[3];
  out.insert(out.end(), token, PutLiteral(token, b));
}
inline void PutRun(std::vector<uint8_t>& out, size_t count, uint8_t b) {
  uint8_t token[3];
  out.insert(out.end(), token, PutRun(token, count, b));
}
inline void PutMatch(std::vector<uint8_t>& out, size_t length, size_t distance) {
  uint8_t token[3];
  out.insert(out.end(), token, PutMatch(token, length, distance));
}

}  // namespace popbox
