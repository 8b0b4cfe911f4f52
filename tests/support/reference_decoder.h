// The compression format written out as plainly as possible, one byte at a
// time: what the tests and the fuzz targets compare the real decoder with.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "payload/payload_format.h"

namespace reference {

struct Decoded {
  bool ok = true;
  std::vector<uint8_t> out;
  // After a failure: the output count before the token, or the span of
  // plain bytes, that left the format. Every earlier token was whole.
  size_t settled = 0;
};

// Fails on every way out of the format: a write past `capacity`, a
// back-reference of distance 0 or reaching before the start of the output,
// and a token cut off by the end of the input.
inline Decoded Decode(const uint8_t* in, size_t size, size_t capacity) {
  Decoded r;
  size_t i = 0;
  size_t literalsFrom = 0;
  bool inLiterals = false;
  auto fail = [&](size_t settled) {
    r.ok = false;
    r.settled = settled;
    return r;
  };
  while (i < size) {
    uint8_t b = in[i++];
    if (b != popbox::ESCAPE_BYTE) {
      if (!inLiterals) literalsFrom = r.out.size();
      inLiterals = true;
      if (r.out.size() == capacity) return fail(literalsFrom);
      r.out.push_back(b);
      continue;
    }
    inLiterals = false;
    size_t before = r.out.size();
    if (i == size) return fail(before);
    uint8_t c = in[i++];
    if (c == 0) {
      if (r.out.size() == capacity) return fail(before);
      r.out.push_back(popbox::ESCAPE_BYTE);
      continue;
    }
    if (i == size) return fail(before);
    uint8_t f = in[i++];
    if (c < 128) {
      for (int k = 0; k < c; ++k) {
        if (r.out.size() == capacity) return fail(before);
        r.out.push_back(f);
      }
      continue;
    }
    size_t n = (c >> 3) - 12;
    size_t distance = (static_cast<size_t>(c & 7) << 8) | f;
    if (distance == 0 || distance > r.out.size()) return fail(before);
    for (size_t k = 0; k < n; ++k) {
      if (r.out.size() == capacity) return fail(before);
      r.out.push_back(r.out[r.out.size() - distance]);
    }
  }
  return r;
}

}  // namespace reference
