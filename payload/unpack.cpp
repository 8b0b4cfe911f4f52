#include "payload/unpack.h"

#include <string.h>

#include "payload/payload_format.h"

namespace popbox {

namespace {

// Finds the first escape byte among the 8 bytes of `word` (in memory order)
// and returns its index, or 8 when there is none. Works a word at a time:
// a byte equal to the escape becomes zero after the xor, and the classic
// zero-byte test marks it; the lowest mark is always exact.
inline unsigned FirstEscapeIn(uint64_t word) {
  const uint64_t ones = 0x0101010101010101ull;
  const uint64_t highs = 0x8080808080808080ull;
  uint64_t x = word ^ (ones * ESCAPE_BYTE);
  uint64_t marks = (x - ones) & ~x & highs;
  if (!marks) return 8;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return static_cast<unsigned>(__builtin_ctzll(marks)) >> 3;
#else
  return static_cast<unsigned>(__builtin_clzll(marks)) >> 3;
#endif
}

}  // namespace

// One forward pass. Every token is checked against both buffers before it
// touches them. Where there is room to spare, literals move eight bytes at
// a time and back-references that do not overlap within eight bytes move in
// 8-byte pieces, writing a little past the token (inside the capacity; the
// next token overwrites it). An overlapping back-reference is copied byte by
// byte in forward order, which is what makes it repeat its last `distance`
// bytes as a pattern.
uint32_t UnpackBlobAt(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t start, uint32_t capacity) {
  if (start > capacity) return UNPACK_FAILED;
  const uint8_t* in = source;
  const uint8_t* const inEnd = source + sourceLength;
  uint8_t* const first = destination + start;  // the first byte this call writes
  uint8_t* out = first;
  uint8_t* const outEnd = destination + capacity;

  while (in < inEnd) {
    if (*in != ESCAPE_BYTE) {
      // Literal span, up to the next escape byte or the end of the input.
      while (inEnd - in >= 8 && outEnd - out >= 8) {
        uint64_t word;
        memcpy(&word, in, 8);
        memcpy(out, &word, 8);
        unsigned n = FirstEscapeIn(word);
        in += n;
        out += n;
        if (n < 8) break;
      }
      while (in < inEnd && *in != ESCAPE_BYTE) {
        if (out == outEnd) return UNPACK_FAILED;
        *out++ = *in++;
      }
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

    // Back-reference: n bytes from `distance` back, within this output and
    // the history before it.
    uint32_t n = (c >> 3) - 12;
    uint32_t distance = ((c & 7) << 8) | f;
    if (distance == 0 || distance > static_cast<size_t>(out - destination)) return UNPACK_FAILED;
    if (n > static_cast<size_t>(outEnd - out)) return UNPACK_FAILED;
    const uint8_t* from = out - distance;
    if (distance >= 8 && outEnd - out >= 24) {
      // Each 8-byte piece reads only bytes that are final before it is
      // written, since the source lies at least 8 bytes back.
      memcpy(out, from, 8);
      memcpy(out + 8, from + 8, 8);
      if (n > 16) memcpy(out + 16, from + 16, 8);
    } else if (distance >= n) {
      memcpy(out, from, n);
    } else {
      for (uint32_t i = 0; i < n; ++i) out[i] = from[i];
    }
    out += n;
  }
  return static_cast<uint32_t>(out - first);
}

}  // namespace popbox
