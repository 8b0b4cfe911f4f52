// The greedy encoder, the benchmark's yardstick for the optimal one. At
// each position it looks at the run of equal bytes that starts there and at
// the longest earlier match within the window, takes whichever covers more
// bytes (when it saves any), and otherwise writes one literal.
//
// Match finder: a hash chain over 4-byte prefixes. head[] holds the last
// position of each hash; prev[] (a ring of WINDOW_SLOTS entries) links each
// position to the previous one of the same hash. A chain is walked only
// while candidates lie within MAX_DISTANCE, and a ring slot is overwritten
// only 2048 positions later, so every slot the walk reads is still valid.
// The walk visits the whole window (stopping early at a match of
// MAX_MATCH bytes); ties go to the nearest candidate.
#include "bench/greedy_encoder.h"

#include <string.h>

#include "packer/encoder/tokens.h"

namespace popbox {

namespace {

constexpr int MAX_HASH_BITS = 15;
constexpr size_t WINDOW_SLOTS = 2048;  // a power of two above MAX_DISTANCE
constexpr size_t NO_POSITION = ~static_cast<size_t>(0);

static_assert(WINDOW_SLOTS > MAX_DISTANCE, "ring must span the window");

// The hash table grows with the input up to 2^15 heads, so that small
// files do not pay for a large table. The table size changes which
// positions share a chain, never the result: every candidate in the window
// is compared byte by byte.
int HashBitsFor(size_t size) {
  int bits = 8;
  while (bits < MAX_HASH_BITS && (size_t{1} << bits) < size) ++bits;
  return bits;
}

class GreedyChains {
 public:
  GreedyChains(const uint8_t* data, size_t size)
      : data_(data),
        size_(size),
        shift_(32 - HashBitsFor(size)),
        head_(size_t{1} << HashBitsFor(size), NO_POSITION),
        prev_(WINDOW_SLOTS) {}

  // Adds `pos` to its chain. Positions must be inserted in order, each once.
  void Insert(size_t pos) {
    if (size_ - pos < MIN_MATCH) return;
    uint32_t h = Hash4(data_ + pos);
    prev_[pos & (WINDOW_SLOTS - 1)] = head_[h];
    head_[h] = pos;
  }

  // Longest match for `pos` among the inserted positions, before `pos` is
  // inserted. Returns its length (0 when below MIN_MATCH) and distance.
  size_t Find(size_t pos, size_t* distance) const {
    if (size_ - pos < MIN_MATCH) return 0;
    const uint8_t* here = data_ + pos;
    size_t limit = size_ - pos < MAX_MATCH ? size_ - pos : MAX_MATCH;
    size_t best = 0;
    for (size_t cand = head_[Hash4(here)]; cand != NO_POSITION && pos - cand <= MAX_DISTANCE;
         cand = prev_[cand & (WINDOW_SLOTS - 1)]) {
      const uint8_t* there = data_ + cand;
      if (there[best] != here[best]) continue;  // cannot beat the best so far
      size_t n = 0;
      while (n < limit && there[n] == here[n]) ++n;
      if (n > best) {
        best = n;
        *distance = pos - cand;
        if (best == limit) break;
      }
    }
    return best >= MIN_MATCH ? best : 0;
  }

 private:
  uint32_t Hash4(const uint8_t* p) const {
    uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                 (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return (v * 2654435761u) >> shift_;
  }

  const uint8_t* data_;
  size_t size_;
  int shift_;
  std::vector<size_t> head_;
  std::vector<size_t> prev_;
};

// A token of three bytes pays off when the literals it replaces take more
// room: four plain bytes, or two escaped ones (two bytes each).
bool RunPays(size_t length, uint8_t b) { return length >= 4 || (b == ESCAPE_BYTE && length >= 2); }

}  // namespace

std::vector<uint8_t> EncodeGreedy(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size + size / 16 + 16);
  GreedyChains finder(data, size);

  size_t pos = 0;
  while (pos < size) {
    uint8_t b = data[pos];
    size_t run = 1;
    while (run < MAX_RUN && pos + run < size && data[pos + run] == b) ++run;

    // A run of MAX_MATCH bytes or more already beats any match.
    size_t distance = 0;
    size_t match = run < MAX_MATCH ? finder.Find(pos, &distance) : 0;

    size_t step;
    if (RunPays(run, b) && run >= match) {
      PutRun(out, run, b);
      step = run;
    } else if (match != 0) {
      PutMatch(out, match, distance);
      step = match;
    } else {
      PutLiteral(out, b);
      step = 1;
    }
    for (size_t i = 0; i < step; ++i) finder.Insert(pos + i);
    pos += step;
  }
  return out;
}

}  // namespace popbox
