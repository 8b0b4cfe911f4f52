// Exact longest-match search for the payload compression format: for each
// position, the longest match of MIN_MATCH..MAX_MATCH bytes that starts 1 to
// MAX_DISTANCE bytes earlier (it may overlap the position itself).
//
// Hash chains over 4-byte prefixes, walked to the end of the window: every
// earlier position with the same first four bytes is on a chain, so no match
// of MIN_MATCH or more can be missed. The walk stops early only when a match
// reaches the cap (MAX_MATCH, or the end of the input), which no later
// candidate can beat. A second set of chains over 8-byte prefixes holds
// every candidate for a match of 8 or more; only when it has none does the
// 4-byte chain need walking, and then only up to 7. That keeps walks short
// on data with few distinct 4-byte prefixes.
//
// Runs of one byte b would make that walk slow (executables are full of
// zero padding): all their positions share the prefix bbbb, and near the
// end of a run, where no candidate reaches the cap, the walk would visit
// every one of them. Two facts about a position p with r equal bytes left
// (r >= 4, run ending at e = p + r) keep it short:
//  - An earlier position x with rx bytes of b left matches p for
//    min(rx, r) bytes when rx != r; only rx == r can go on past r, by as
//    much as the bytes behind the two runs agree. So each earlier run of at
//    least r bytes offers one useful candidate, the one r before its end.
//  - That candidate's distance, e - (end of the earlier run), is the same
//    for every p in the run.
// So a run enters its chain once (each position that continues a run takes
// its predecessor's place and remembers where the run began), and inside a
// run the earlier runs are examined once, at the first position that needs
// them; the rest of the run reads the answers from a table by r.
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
    longHead_.assign(size_t{1} << hashBits_, kNone);
  }

  // The longest match at `pos`. Positions must be visited in order 0, 1,
  // 2, ... each exactly once: the call also enters `pos` into the chains.
  Match Next(uint32_t pos) {
    if (pos + MIN_MATCH > size_) return Match{0, 0};  // too close to the end; nothing to enter

    const uint8_t* here = data_ + pos;
    const uint32_t limit = size_ - pos < MAX_MATCH ? size_ - pos : MAX_MATCH;
    const uint32_t h = Hash(here);
    const uint32_t run = RunLength(pos, limit + 1);  // exact when <= limit
    const bool insideRun = run >= MIN_MATCH && pos > 0 && data_[pos - 1] == here[0];
    // Is pos on a long chain (first kLongKey bytes, not all equal)?
    const bool longKey = size_ - pos >= kLongKey && run < kLongKey;
    const uint32_t longHash = longKey ? LongHash(here) : 0;

    uint32_t bestLen, bestDistance;
    if (insideRun && run < limit) {
      // Distance 1 gives the rest of the run; only an earlier run can give
      // more (see the top of this file).
      if (tailRunEnd_ != pos + run) ExamineEarlierRuns(pos, pos + run, h);
      bestLen = run + (tailGain_[run] < limit - run ? tailGain_[run] : limit - run);
      bestDistance = bestLen > run ? tailDistance_[run] : 1;
    } else {
      bestLen = MIN_MATCH - 1;
      bestDistance = 0;
      // The previous position's distance usually still matches, often to
      // the cap (repeated patterns); trying it first ends such walks at
      // once and raises the bar for the rest.
      if (lastDistance_ != 0 && lastDistance_ <= pos) {
        uint32_t len = CommonLength(here - lastDistance_, here, limit);
        if (len > bestLen) {
          bestLen = len;
          bestDistance = lastDistance_;
        }
      }
      if (!longKey) {
        Walk(pos, h, run, limit, &bestLen, &bestDistance);
      } else {
        WalkLong(pos, longHash, limit, &bestLen, &bestDistance);
        if (bestLen < kLongKey) Walk(pos, h, run, kLongKey - 1, &bestLen, &bestDistance);
      }
    }

    // Enter pos. A position that continues a run (its predecessor began
    // with the same four equal bytes, and was entered last on this chain)
    // takes the predecessor's place.
    Slot& slot = slots_[pos & kWindowMask];
    if (insideRun) {
      slot = slots_[(pos - 1) & kWindowMask];
    } else {
      slot.prev = head_[h];
      slot.runStart = pos;
    }
    head_[h] = pos;
    if (longKey) {
      longPrev_[pos & kWindowMask] = longHead_[longHash];
      longHead_[longHash] = pos;
    }

    if (bestLen < MIN_MATCH) {
      lastDistance_ = 0;
      return Match{0, 0};
    }
    lastDistance_ = bestDistance;
    return Match{bestLen, bestDistance};
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr uint32_t kMaxHashBits = 15;
  // The chain links are a ring over the window: the slot of a position is
  // reused only 2048 positions later, when it is out of reach.
  static constexpr uint32_t kWindowSize = 2048;
  static constexpr uint32_t kWindowMask = kWindowSize - 1;
  static_assert(MAX_DISTANCE < kWindowSize, "the chain ring must cover the window");

  struct Slot {
    uint32_t prev;      // the previous position on the same chain
    uint32_t runStart;  // first position of the run this one stands for (itself if none)
  };

  // The walk of the long chain: every candidate for a match of kLongKey
  // bytes or more.
  void WalkLong(uint32_t pos, uint32_t h, uint32_t limit, uint32_t* bestLen,
                uint32_t* bestDistance) const {
    const uint8_t* here = data_ + pos;
    const uint32_t oldest = pos > MAX_DISTANCE ? pos - MAX_DISTANCE : 0;
    for (uint32_t cand = longHead_[h]; *bestLen < limit && cand != kNone && cand >= oldest;
         cand = longPrev_[cand & kWindowMask]) {
      const uint8_t* there = data_ + cand;
      if (there[*bestLen] != here[*bestLen]) continue;
      uint32_t len = CommonLength(there, here, limit);
      if (len > *bestLen) {
        *bestLen = len;
        *bestDistance = pos - cand;
      }
    }
  }

  // The walk of the 4-byte chain, also used at the start of a run.
  void Walk(uint32_t pos, uint32_t h, uint32_t run, uint32_t limit, uint32_t* bestLen,
            uint32_t* bestDistance) const {
    const uint8_t* here = data_ + pos;
    const uint32_t oldest = pos > MAX_DISTANCE ? pos - MAX_DISTANCE : 0;
    for (uint32_t cand = head_[h]; *bestLen < limit && cand != kNone && cand >= oldest;
         cand = slots_[cand & kWindowMask].prev) {
      uint32_t from = cand;
      const uint32_t runStart = slots_[cand & kWindowMask].runStart;
      if (runStart != cand) {
        // cand stands for the run positions runStart..cand, which all begin
        // with four equal bytes. Unless pos does too, with the same byte,
        // none of them matches (cand is here by a hash collision).
        if (run < MIN_MATCH || data_[cand] != here[0]) continue;
        // Take the one with as many equal bytes left as pos has, up to the
        // limit. cand itself has the fewest left (4), or is pos - 1.
        const uint32_t want = run < limit ? run : limit;
        const uint32_t left = RunLength(cand, want + 1);
        const uint32_t first = runStart > oldest ? runStart : oldest;
        if (left < want) from = cand - first > want - left ? cand - (want - left) : first;
      }
      const uint8_t* there = data_ + from;
      // A candidate must agree at bestLen to be longer than the best so far.
      if (there[*bestLen] != here[*bestLen]) continue;
      uint32_t len = CommonLength(there, here, limit);
      if (len > *bestLen) {
        *bestLen = len;
        *bestDistance = pos - from;
      }
    }
  }

  // Fills tailGain_/tailDistance_ for the run that pos is inside of and
  // that ends at `end`: for each r, how far a match r before the end of an
  // earlier run of at least r bytes goes on past its run, and at which
  // distance. Every such earlier run ends within MAX_DISTANCE of `end`, so
  // its chain entry (4 before its end) is within reach of pos.
  void ExamineEarlierRuns(uint32_t pos, uint32_t end, uint32_t h) {
    tailRunEnd_ = end;
    for (uint32_t& gain : tailGain_) gain = 0;
    const uint8_t b = data_[pos];
    const uint32_t ownStart = slots_[(pos - 1) & kWindowMask].runStart;
    const uint32_t gainCap =
        size_ - end < MAX_MATCH - MIN_MATCH ? size_ - end : MAX_MATCH - MIN_MATCH;
    const uint32_t oldest = pos > MAX_DISTANCE ? pos - MAX_DISTANCE : 0;
    for (uint32_t cand = head_[h]; cand != kNone && cand >= oldest;
         cand = slots_[cand & kWindowMask].prev) {
      if (cand >= ownStart || data_[cand] != b) continue;
      const uint32_t runEnd = cand + RunLength(cand, ownStart - cand);
      if (runEnd - cand < MIN_MATCH || end - runEnd > MAX_DISTANCE) continue;
      const uint32_t runLength = runEnd - slots_[cand & kWindowMask].runStart;
      const uint32_t k = runLength < kTailTable - 1 ? runLength : kTailTable - 1;
      const uint32_t gain = CommonLength(data_ + runEnd, data_ + end, gainCap);
      if (gain > tailGain_[k]) {
        tailGain_[k] = gain;
        tailDistance_[k] = end - runEnd;
      }
    }
    // Runs of at least r bytes: the best over the longer ones too.
    for (uint32_t k = kTailTable - 1; k-- > MIN_MATCH;) {
      if (tailGain_[k + 1] > tailGain_[k]) {
        tailGain_[k] = tailGain_[k + 1];
        tailDistance_[k] = tailDistance_[k + 1];
      }
    }
  }

  uint32_t Hash(const uint8_t* p) const {
    uint32_t v;
    memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - hashBits_);
  }
  uint32_t LongHash(const uint8_t* p) const {
    uint64_t v;
    memcpy(&v, p, 8);
    return static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - hashBits_));
  }

  // Bytes equal to data_[from] from `from` on, counting at most `cap`.
  uint32_t RunLength(uint32_t from, uint32_t cap) const {
    uint32_t end = size_ - from < cap ? size_ : from + cap;
    uint32_t k = from + 1;
    while (k < end && data_[k] == data_[from]) ++k;
    return k - from;
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
  Slot slots_[kWindowSize] = {};

  // The long chains: positions by their first kLongKey bytes, for those
  // whose first kLongKey bytes are not all equal (runs use the 4-byte
  // chains and their own shortcuts). For such a position every candidate
  // for a match of kLongKey or more is on its long chain.
  static constexpr uint32_t kLongKey = 8;
  static_assert(kLongKey > MIN_MATCH && kLongKey <= MAX_MATCH, "long key within match lengths");
  std::vector<uint32_t> longHead_;
  uint32_t longPrev_[kWindowSize] = {};

  // The table of ExamineEarlierRuns, indexed by the bytes left in the run
  // (MIN_MATCH..MAX_MATCH - 1; a run with more left reaches the cap at
  // distance 1). tailRunEnd_ tells which run it describes.
  static constexpr uint32_t kTailTable = MAX_MATCH;
  uint32_t tailRunEnd_ = 0;
  uint32_t tailGain_[kTailTable] = {};
  uint32_t tailDistance_[kTailTable] = {};
};

}  // namespace popbox
