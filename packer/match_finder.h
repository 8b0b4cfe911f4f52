// Exact longest-match search for the payload compression format: for each
// position, the longest match of MIN_MATCH..MAX_MATCH bytes that starts 1 to
// MAX_DISTANCE bytes earlier (it may overlap the position itself).
//
// Hash chains over 4-byte prefixes, walked to the end of the window: every
// earlier position with the same first four bytes is on the chain, so no
// match of MIN_MATCH or more can be missed. The walk stops early only when
// a match reaches the cap (MAX_MATCH, or the end of the input), which no
// later candidate can beat. The window is small (2047), so a full walk is
// cheap; the worst case is a few hundred candidates per position, on data
// where many positions share a prefix but no candidate reaches the cap.
//
// Header-only so that the encoder and its tests share one definition.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "payload/payload_format.h"

namespace popbox {

struct Match {
  uint32_t length;    // 0 when there is no match of MIN_MATCH or more
  uint32_t distance;  // 1..MAX_DISTANCE when length > 0
};

class MatchFinder {
 public:
  // `size` must stay below 2^32 - 1: positions are kept in 32 bits.
  MatchFinder(const uint8_t* data, size_t size) : data_(data), size_(static_cast<uint32_t>(size)) {
    hashBits_ = 8;
    while (hashBits_ < kMaxHashBits && (size_t{1} << hashBits_) < size) ++hashBits_;
    head_.assign(size_t{1} << hashBits_, kNone);
  }

  // The longest match at `pos`. Positions must be visited in order 0, 1,
  // 2, ... each exactly once: the call also enters `pos` into the chains.
  Match Next(uint32_t pos) {
    Match best = {0, 0};
    if (pos + MIN_MATCH > size_) return best;  // too close to the end; nothing to enter

    const uint8_t* here = data_ + pos;
    uint32_t limit = size_ - pos < MAX_MATCH ? size_ - pos : MAX_MATCH;
    uint32_t h = Hash(here);

    // The previous position's distance usually still matches, often to the
    // cap (runs, repeated patterns); trying it first ends such walks at once
    // and raises the bar for the rest of the chain.
    uint32_t bestLen = MIN_MATCH - 1;
    if (lastDistance_ != 0 && lastDistance_ <= pos) {
      uint32_t len = CommonLength(here - lastDistance_, here, limit);
      if (len > bestLen) {
        bestLen = len;
        best.distance = lastDistance_;
      }
    }

    for (uint32_t cand = head_[h]; bestLen < limit && cand != kNone && pos - cand <= MAX_DISTANCE;
         cand = prev_[cand & kWindowMask]) {
      const uint8_t* there = data_ + cand;
      // A candidate must agree at bestLen to be longer than the best so far.
      if (there[bestLen] != here[bestLen]) continue;
      uint32_t len = CommonLength(there, here, limit);
      if (len > bestLen) {
        bestLen = len;
        best.distance = pos - cand;
      }
    }

    prev_[pos & kWindowMask] = head_[h];
    head_[h] = pos;

    if (bestLen >= MIN_MATCH) {
      best.length = bestLen;
      lastDistance_ = best.distance;
    } else {
      best.distance = 0;
      lastDistance_ = 0;
    }
    return best;
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr uint32_t kMaxHashBits = 15;
  // prev_ is a ring over the window: the slot of a position is reused only
  // 2048 positions later, when it is out of reach.
  static constexpr uint32_t kWindowSize = 2048;
  static constexpr uint32_t kWindowMask = kWindowSize - 1;
  static_assert(MAX_DISTANCE < kWindowSize, "the chain ring must cover the window");

  uint32_t Hash(const uint8_t* p) const {
    uint32_t v;
    memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - hashBits_);
  }

  // Length of the common prefix of a and b, at most `limit`.
  static uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t len = 0;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (len + 8 <= limit) {
      uint64_t x, y;
      memcpy(&x, a + len, 8);
      memcpy(&y, b + len, 8);
      if (x != y) return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
      len += 8;
    }
#endif
    while (len < limit && a[len] == b[len]) ++len;
    return len;
  }

  const uint8_t* data_;
  uint32_t size_;
  uint32_t hashBits_;
  uint32_t lastDistance_ = 0;
  std::vector<uint32_t> head_;
  uint32_t prev_[kWindowSize] = {};
};

}  // namespace popbox
