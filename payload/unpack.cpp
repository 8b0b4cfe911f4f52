#include "payload/unpack.h"

#include <string.h>

#include "payload/payload_format.h"

namespace popbox {

// One forward pass. Literal spans up to the next escape byte, runs and
// back-references that do not overlap their own output move as blocks; an
// overlapping back-reference is copied byte by byte in forward order, which
// is what makes it repeat its last `distance` bytes as a pattern.
uint32_t UnpackBlob(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                    uint32_t capacity) {
  const uint8_t* in = source;
  const uint8_t* const inEnd = source + sourceLength;
  uint8_t* out = destination;
  uint8_t* const outEnd = destination + capacity;

  while (in < inEnd) {
    if (*in != ESCAPE_BYTE) {
      // Literal span: everything up to the next escape byte or the end.
      const void* escape = memchr(in, ESCAPE_BYTE, static_cast<size_t>(inEnd - in));
      const uint8_t* spanEnd = escape ? static_cast<const uint8_t*>(escape) : inEnd;
      size_t span = static_cast<size_t>(spanEnd - in);
      if (span > static_cast<size_t>(outEnd - out)) return UNPACK_FAILED;
      memcpy(out, in, span);
      out += span;
      in = spanEnd;
      continue;
    }

    // An escape token: DF 00, or DF c f. A token cut off by the end of the
    // input lies outside the format.
    if (inEnd - in < 2) return UNPACK_FAILED;
    uint32_t c = in[1];
    if (c == 0) {
      if (out == outEnd) return UNPACK_FAILED;
      *out++ = ESCAPE_BYTE;
      in += 2;
      continue;
    }
    if (inEnd - in < 3) return UNPACK_FAILED;
    uint32_t f = in[2];
    in += 3;

    if (c < 128) {  // run: c copies of f
      if (c > static_cast<size_t>(outEnd - out)) return UNPACK_FAILED;
      memset(out, static_cast<int>(f), c);
      out += c;
      continue;
    }

    // Back-reference: n bytes from `distance` back, within this output.
    uint32_t n = (c >> 3) - 12;
    uint32_t distance = ((c & 7) << 8) | f;
    if (distance == 0 || distance > static_cast<size_t>(out - destination)) return UNPACK_FAILED;
    if (n > static_cast<size_t>(outEnd - out)) return UNPACK_FAILED;
    const uint8_t* from = out - distance;
    if (distance >= n) {
      memcpy(out, from, n);
    } else {
      for (uint32_t i = 0; i < n; ++i) out[i] = from[i];
    }
    out += n;
  }
  return static_cast<uint32_t>(out - destination);
}

}  // namespace popbox
