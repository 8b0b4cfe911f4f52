// The compression format written out as plainly as possible, a byte at a
// time: what the tests and the fuzz targets hold the real decoder against.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace reference {

struct Decoded {
  bool ok = true;
  std::vector<uint8_t> out;
  size_t settled = 0;  // after a failure: the bytes written by whole tokens before it
};

// Fails on every way out of the format: a write past `capacity`, a copy from
// distance 0 or from before the output, a token cut off by the input's end.
inline Decoded Decode(const uint8_t* in, size_t size, size_t capacity) {
  Decoded r;
  auto put = [&](uint8_t b) { return r.out.size() < capacity ? r.out.push_back(b), true : false; };
  for (size_t i = 0; i < size;) {
    size_t before = r.out.size();
    bool ok = true;
    if (in[i] != 0xDF) {
      for (; ok && i < size && in[i] != 0xDF; ++i) ok = put(in[i]);
    } else if (size - i < 2 || (in[i + 1] != 0 && size - i < 3)) {
      ok = false;
    } else if (in[i + 1] == 0) {
      ok = put(0xDF), i += 2;
    } else {
      uint8_t c = in[i + 1], f = in[i + 2];
      size_t distance = (size_t(c & 7) << 8) | f;
      if (c >= 128 && (distance == 0 || distance > r.out.size())) ok = false;
      for (int k = 0; ok && k < (c < 128 ? c : (c >> 3) - 12); ++k)
        ok = put(c < 128 ? f : r.out[r.out.size() - distance]);
      i += 3;
    }
    if (!ok) {
      r.ok = false;
      r.settled = before;
      return r;
    }
  }
  return r;
}

}  // namespace reference
