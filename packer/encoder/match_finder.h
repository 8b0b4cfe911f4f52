// Exact match search for the payload compression format. A back-reference
// costs the same whatever its length and distance, so the parse needs only
// the LONGEST match (MIN_MATCH..MAX_MATCH bytes, from 1 to MAX_DISTANCE
// bytes back, overlap allowed) at each position; the writer then needs one
// distance that reaches a chosen length, and takes the nearest.
//
// Positions are split in two kinds, which can never match each other for
// MIN_MATCH bytes:
//  - Run positions: the next four bytes are one byte b repeated. Every
//    candidate is then a run position too, inside an earlier run of b or the
//    same run. With r bytes of b left (run ends at E), a candidate with rq
//    bytes of b left matches min(rq, r) bytes when rq != r, and r plus "how
//    far the bytes behind both runs agree" when rq == r. So inside a run the
//    answer is r from distance 1 (the previous byte), unless an earlier run of
//    at least r bytes ending within MAX_DISTANCE of E continues like this one;
//    those earlier runs (linked per byte value, and per byte value and the
//    byte after the run, which must agree for them to continue alike) are
//    examined at the run's first position and, once, for a table by r that
//    serves the rest. Runs are kept in a small ring, never in the chains,
//    so a megabyte of zeros costs a scan, not a chain walk.
//  - Other positions: hash chains over exact 4-, 5- and 8-byte prefixes,
//    with links in a ring over the window. Chains hold every earlier non-run
//    position of the window, so none is missed; a chain walk ends at the cap
//    (MAX_MATCH or the end of the input). One walk (ChainLongest) answers
//    every such position: any match of 8 or more is on the 8-byte chain,
//    any of 5 to 7 on the 5-byte chain, which is walked only when the 8-byte
//    one finds less than 7, and then only up to 7. Only when neither finds
//    5 is the 4-byte chain walked, and only to the first candidate with 4:
//    common 4-byte strings make long 4-byte chains, whose every candidate a
//    search for 5 to 7 would have to measure. Positions with fewer than 8
//    bytes left are on the 4-byte chain alone, which then answers up to the
//    end. The previous position's distance is tried first: it usually still
//    matches (Lmax(i) >= Lmax(i-1) - 1), and raises the bar every chain
//    candidate must pass.
//
// A scan can start anywhere (Start): bytes before its origin are never
// candidates, so a scan started MAX_DISTANCE bytes before a piece gives that
// piece exactly the answers of a scan from the start of the input. Pieces can
// therefore be searched on several threads, each with its own finder.
//
// Positions live in 32 bits, relative to the origin plus a bias that rises
// from scan to scan, so that 0 (an empty head) and anything left from an
// earlier scan are always out of the window.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "payload/payload_format.h"

namespace popbox {

class MatchFinder {
 public:
  enum class Mode {
    Longest,  // Longest(Range) and Skip(Range): every chain
    Nearest,  // Nearest(): the 4-byte chain is enough
  };

  // The most positions one scan may visit.
  static constexpr size_t MAX_SPAN = size_t{1} << 31;

  // Starts a scan of data[0, size) at `origin`. In Longest mode positions
  // origin, origin+1, ... must then be visited in order, each exactly once,
  // by Longest(Range) or Skip(Range); in Nearest mode Nearest is asked at
  // rising positions and enters the rest itself. At most `span` positions,
  // span <= MAX_SPAN, and none past them: runs are measured only as far as
  // those need. `size` must stay below 2^32 - 1.
  void Start(const uint8_t* data, size_t size, size_t origin, size_t span, Mode mode) {
    base_ = data + origin;
    origin_ = origin;
    next_ = origin;
    end_ = static_cast<uint32_t>(size - origin);
    mode_ = mode;
    // Positions go on rising from one scan to the next, so whatever the
    // tables hold from earlier scans lies out of the window; they are
    // cleared only when positions would overflow.
    const uint64_t bias = uint64_t{limit_} + WINDOW_SIZE;
    const bool fresh = head4_.empty() || (mode == Mode::Longest && head8_.empty()) ||
                       bias + span + WINDOW_SIZE > 0xFFFFFFFFu;
    if (fresh) {
      head4_.assign(size_t{1} << HASH_BITS, 0);
      if (mode == Mode::Longest || !head8_.empty()) {
        head5_.assign(size_t{1} << HASH_BITS, 0);
        head8_.assign(size_t{1} << HASH_BITS, 0);
      }
      bias_ = WINDOW_SIZE;
    } else {
      bias_ = static_cast<uint32_t>(bias);
    }
    limit_ = bias_ + static_cast<uint32_t>(span);
    span_ = static_cast<uint32_t>(span);
    runCount_ = 0;
    for (uint32_t& k : lastRunOf_) k = NO_RUN;
    for (uint32_t& k : lastAlike_) k = NO_RUN;
    runStart_ = runEnd_ = 0;
    lastDistance_ = 0;
  }

  // The longest match at pos: 0, or MIN_MATCH..MAX_MATCH. Enters pos.
  uint32_t Longest(size_t pos) {
    const uint32_t p = Relative(pos);
    const uint32_t left = end_ - p;
    if (left < MIN_MATCH) {
      lastDistance_ = 0;
      return 0;
    }
    const uint32_t limit = left < MAX_MATCH ? left : MAX_MATCH;
    if (InsideRun(p)) return RunLongest(p, limit);
    if (StartsRun(p)) {
      BeginRun(p);
      return ExamineEarlierRuns(p, limit);
    }
    return ChainLongestNearEnd(p, left);
  }

  // Longest(pos) for pos = from..to-1, into out[pos - from], and when
  // `distances` is not null a distance at which that length matches into
  // distances[pos - from] (0 with none). The same answers; the common case
  // (no run, more than WORDS_AHEAD bytes ahead) runs in one loop with the
  // walk inline.
  void LongestRange(size_t from, size_t to, uint8_t* out, uint16_t* distances = nullptr) {
    const uint32_t first = Relative(from), last = Relative(to);
    const uint32_t end = end_, wordsEnd = FAST_PATH && end > WORDS_AHEAD ? end - WORDS_AHEAD : 0;
    // Locals, not members: a store to out[] may alias any member, which
    // would make the compiler load them all again at every position.
    const Chains chains = Tables();
    uint32_t runStart = runStart_, runEnd = runEnd_;  // as InsideRun reads them
    uint32_t lastDistance = lastDistance_;
    for (uint32_t p = first; p < last; ++p) {
      const uint8_t* here = chains.base + p;
      if (p >= wordsEnd || (p > runStart && p + MIN_MATCH <= runEnd) ||
          Load32(here) == here[0] * 0x01010101u) {  // InsideRun(p), StartsRun(p)
        lastDistance_ = lastDistance;
        out[p - first] = static_cast<uint8_t>(Longest(p + origin_));
        lastDistance = lastDistance_;
        if (distances) distances[p - first] = static_cast<uint16_t>(lastDistance);
        runStart = runStart_;
        runEnd = runEnd_;
        continue;
      }
      const uint32_t best = ChainLongest<true>(chains, p, end - p, &lastDistance);
      if (distances) distances[p - first] = static_cast<uint16_t>(lastDistance);
      out[p - first] = static_cast<uint8_t>(best);
    }
    lastDistance_ = lastDistance;
  }

  // The nearest distance at which `length` (MIN_MATCH..the longest match)
  // bytes match at pos, or 0 when there is none. Enters pos. In Nearest
  // mode positions need not be visited one by one: those not yet entered
  // are entered here, and only the MAX_DISTANCE before pos, since no later
  // query reaches further back (a run cut off there starts there, as at the
  // origin), so a stretch with no back-reference costs nothing.
  uint32_t Nearest(size_t pos, uint32_t length) {
    if (next_ < pos) SkipRange(pos - next_ > MAX_DISTANCE ? pos - MAX_DISTANCE : next_, pos);
    next_ = pos + 1;
    const uint32_t p = Relative(pos);
    if (end_ - p < length || length < MIN_MATCH) {
      Skip(pos);
      return 0;
    }
    if (InsideRun(p)) return RunNearest(p, length);
    if (StartsRun(p)) {
      BeginRun(p);
      return RunNearest(p, length);
    }
    const uint8_t* here = base_ + p;
    const uint32_t h = Hash4(here);
    const uint32_t now = p + bias_;
    uint32_t found = 0;
    for (uint32_t q = head4_[h]; q + MAX_DISTANCE >= now; q = prev4_[q & WINDOW_MASK]) {
      if (Common(base_ + (q - bias_), here, length) == length) {
        found = now - q;
        break;
      }
    }
    Enter(p, here, h);
    return found;
  }

  // Skip(pos) for pos = from..to-1: run positions are passed over at once.
  void SkipRange(size_t from, size_t to) {
    uint32_t p = Relative(from);
    const uint32_t last = Relative(to);
    const uint32_t stop = end_ - MIN_MATCH + 1 < last ? end_ - MIN_MATCH + 1 : last;
    uint32_t* const head4 = head4_.data();
    while (p < stop) {
      if (InsideRun(p)) {
        p = runEnd_ - MIN_MATCH + 1;  // the first position after the run's
        continue;
      }
      const uint32_t w = Load32(base_ + p);
      if (w == base_[p] * 0x01010101u || mode_ != Mode::Nearest) {
        Skip(p + origin_);
        ++p;
        continue;
      }
      const uint32_t now = p + bias_;
      const uint32_t h = HashOf4(w);
      prev4_[now & WINDOW_MASK] = head4[h];
      head4[h] = now;
      ++p;
    }
    next_ = to;
  }

  // Enters pos without a query.
  void Skip(size_t pos) {
    next_ = pos + 1;
    const uint32_t p = Relative(pos);
    if (end_ - p < MIN_MATCH || InsideRun(p)) return;
    if (StartsRun(p)) {
      BeginRun(p);
      return;
    }
    Enter(p, base_ + p, Hash4(base_ + p));
  }

 private:
  static constexpr uint32_t HASH_BITS = 16;
  // LongestRange's inline walks read words in memory order (little-endian,
  // GCC builtins); elsewhere every position takes the general path.
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  static constexpr bool FAST_PATH = true;
#else
  static constexpr bool FAST_PATH = false;
#endif
  static constexpr uint32_t WINDOW_SIZE = 2048;  // chain ring: a slot is reused 2048 later
  static constexpr uint32_t WINDOW_MASK = WINDOW_SIZE - 1;
  static constexpr uint32_t LONG_KEY = 8;
  // A position with more bytes than this ahead has its candidates measured
  // a word at a time, up to MAX_MATCH, without a check of the end.
  static constexpr uint32_t WORDS_AHEAD = MAX_MATCH + 8;
  // Maximal runs of MIN_MATCH or more within a window: fewer than 2048 / 4 + 2.
  static constexpr uint32_t RUN_RING = 1024;
  static constexpr uint32_t MAX_GAIN = MAX_MATCH - MIN_MATCH;
  static_assert(MAX_DISTANCE < WINDOW_SIZE, "the chain ring must cover the window");
  static_assert(LONG_KEY == 8, "4..7 are measured within one 8-byte word");

  struct Run {
    uint32_t start, end;     // relative positions; start clamped to the origin
    uint32_t previous;       // index of the previous run of the same byte, or NO_RUN
    uint32_t previousAlike;  // the same, among runs whose next byte hashes alike
  };
  static constexpr uint32_t NO_RUN = 0xFFFFFFFFu;
  // Runs are also linked by their byte and the byte after them, hashed:
  // an earlier run adds to a match only if the bytes after both agree.
  static constexpr uint32_t ALIKE_KEYS = 1024;
  static uint32_t AlikeKey(uint8_t run, uint8_t next) {
    return ((run << 8 | next) * 2654435761u) >> 22;
  }

  uint32_t Relative(size_t pos) const { return static_cast<uint32_t>(pos - origin_); }

  // The current run, and the run a link names: null for none, or for one
  // the ring has since let go.
  const Run& Latest() const { return runs_[(runCount_ - 1) % RUN_RING]; }
  const Run* Linked(uint32_t k) const {
    return k != NO_RUN && runCount_ - k <= RUN_RING ? &runs_[k % RUN_RING] : nullptr;
  }

  static uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
  }
  static uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
  }
  // Hashes of the first 4, 5 and 8 bytes of a word read in memory order.
  static uint32_t HashOf4(uint64_t w) {
    return (static_cast<uint32_t>(w) * 2654435761u) >> (32 - HASH_BITS);
  }
  static uint32_t HashOf5(uint64_t w) {
    return static_cast<uint32_t>(((w << 24) * 0xC2B2AE3D27D4EB4Full) >> (64 - HASH_BITS));
  }
  static uint32_t HashOf8(uint64_t w) {
    return static_cast<uint32_t>((w * 0x9E3779B97F4A7C15ull) >> (64 - HASH_BITS));
  }
  uint32_t Hash4(const uint8_t* p) const { return HashOf4(Load32(p)); }

  // Length of the common prefix of a and b, at most `limit` (<= MAX_MATCH);
  // reads nothing at or past a + limit, b + limit.
  static uint32_t Common(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t len = 0;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; len + 8 <= limit; len += 8) {
      uint64_t x = Load64(a + len) ^ Load64(b + len);
      if (x) return len + static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
    }
    if (limit >= 8) {  // the last 8 bytes, overlapping what is known equal
      uint64_t x = Load64(a + limit - 8) ^ Load64(b + limit - 8);
      return x ? limit - 8 + static_cast<uint32_t>(__builtin_ctzll(x) >> 3) : limit;
    }
#endif
    while (len < limit && a[len] == b[len]) ++len;
    return len;
  }

  // Run positions: p inside the current run with at least MIN_MATCH bytes
  // of it left, its first position excepted.
  bool InsideRun(uint32_t p) const { return p > runStart_ && p + MIN_MATCH <= runEnd_; }
  bool StartsRun(uint32_t p) const {
    return Load32(base_ + p) == base_[p] * 0x01010101u;  // caller checked 4 bytes are left
  }

  // p starts a run (at the origin: a run that may have begun earlier). Its
  // end is looked for only as far as an answer of this scan can tell: a
  // position below span_ asks at most MAX_MATCH ahead, and p's length is
  // compared with earlier runs, which hold at most MAX_DISTANCE bytes in
  // reach. A run cut off there is longer than both and is the scan's last,
  // so a scan of a long run costs its span, not the rest of the run.
  void BeginRun(uint32_t p) {
    const uint8_t b = base_[p];
    const uint64_t pattern = b * 0x0101010101010101ull;
    const uint32_t far =
        span_ + MAX_MATCH > p + MAX_DISTANCE ? span_ + MAX_MATCH : p + MAX_DISTANCE + 1;
    const uint32_t stop = far < end_ ? far : end_;
    uint32_t e = p + MIN_MATCH;
    while (stop - e >= 8 && Load64(base_ + e) == pattern) e += 8;
    while (e < stop && base_[e] == b) ++e;
    runStart_ = p;
    runEnd_ = e;
    tableFor_ = NO_TABLE;
    const uint32_t alike = AlikeKey(b, e < end_ ? base_[e] : 0);
    runs_[runCount_ % RUN_RING] =
        Run{p, e, lastRunOf_[b], lastAlike_[alike]};  // seen by later runs only
    lastRunOf_[b] = runCount_;
    lastAlike_[alike] = runCount_++;
  }

  uint32_t RunLongest(uint32_t p, uint32_t limit) {
    const uint32_t r = runEnd_ - p;
    if (r >= limit) {
      lastDistance_ = 1;
      return limit;
    }
    // r < MAX_MATCH: an earlier run may add to distance 1's r bytes.
    if (tableFor_ != runStart_) FillGainTable();
    const uint32_t gain = gain_[r] < MAX_MATCH - r ? gain_[r] : MAX_MATCH - r;
    lastDistance_ = gain ? gainDistance_[r] : 1;
    return r + gain;
  }

  // The earlier runs of the current run's byte, newest first. For the first
  // position S of the run (r = its length) the best candidate of each
  // earlier run R is: with positions a..R.end-4 of R within reach, those
  // with R.end - a >= r include R.end - r (r + gain); otherwise the first
  // one reachable, R.end - a bytes. So the newest R with r bytes in reach
  // gives r, and only runs followed by the same byte can add a gain to it.
  uint32_t ExamineEarlierRuns(uint32_t s, uint32_t limit) {
    const uint32_t e = runEnd_;
    const uint32_t length = e - s;
    const uint32_t oldest = s > MAX_DISTANCE ? s - MAX_DISTANCE : 0;
    uint32_t best = 0, bestDistance = 0;
    for (const Run* earlier = Linked(Latest().previous); earlier;
         earlier = Linked(earlier->previous)) {
      const Run& run = *earlier;
      if (run.end < oldest + MIN_MATCH) break;
      const uint32_t a = run.start > oldest ? run.start : oldest;
      if (run.end - a >= length) {
        best = length;
        bestDistance = s - (run.end - length);
        break;
      }
      if (run.end - a > best) {
        best = run.end - a;
        bestDistance = s - a;
      }
    }
    const uint32_t cap = GainCap(e);
    if (best == length && best < limit && cap != 0) {
      for (const Run* earlier = Linked(Latest().previousAlike); earlier;
           earlier = Linked(earlier->previousAlike)) {
        const Run& run = *earlier;
        if (run.end < oldest + length) break;
        if (run.end - run.start < length || base_[run.end] != base_[e]) continue;
        const uint32_t len = length + Common(base_ + run.end, base_ + e, cap);
        if (len > best) {
          best = len;
          bestDistance = s - (run.end - length);
          if (best >= limit) break;
        }
      }
    }
    if (best > limit) best = limit;
    lastDistance_ = best >= MIN_MATCH ? bestDistance : 0;
    return best >= MIN_MATCH ? best : 0;
  }

  uint32_t GainCap(uint32_t e) const { return end_ - e < MAX_GAIN ? end_ - e : MAX_GAIN; }

  // gain_[r], r = MIN_MATCH..MAX_MATCH-1: how far the bytes behind an
  // earlier run of at least r bytes, ending within MAX_DISTANCE of this
  // run's end, agree with those behind this run; 0 if none.
  void FillGainTable() {
    tableFor_ = runStart_;
    const uint32_t e = runEnd_;
    for (uint32_t& g : gain_) g = 0;
    const uint32_t cap = GainCap(e);
    if (cap == 0 || e - runStart_ <= MIN_MATCH) return;
    const uint32_t needed = e - runStart_ - 1 < MAX_MATCH - 1 ? e - runStart_ - 1 : MAX_MATCH - 1;
    for (const Run* earlier = Linked(Latest().previousAlike); earlier;
         earlier = Linked(earlier->previousAlike)) {
      const Run& run = *earlier;
      if (e - run.end > MAX_DISTANCE) break;
      if (base_[run.end] != base_[e]) continue;  // no gain
      const uint32_t g = Common(base_ + run.end, base_ + e, cap);
      const uint32_t len = run.end - run.start;
      const uint32_t slot = len < MAX_MATCH - 1 ? len : MAX_MATCH - 1;
      if (g > gain_[slot]) {
        gain_[slot] = g;
        gainDistance_[slot] = e - run.end;
      }
      if (g == cap && slot >= needed) break;  // nothing further can do better
    }
    for (uint32_t r = MAX_MATCH - 1; r-- > MIN_MATCH;) {
      if (gain_[r + 1] > gain_[r]) {
        gain_[r] = gain_[r + 1];
        gainDistance_[r] = gainDistance_[r + 1];
      }
    }
  }

  // Nearest for a run position p (r bytes left): distance 1 when it gives
  // enough, else the nearest earlier run position that does.
  uint32_t RunNearest(uint32_t p, uint32_t length) {
    const uint32_t e = runEnd_;
    const uint32_t r = e - p;
    if (p > runStart_ && length <= r) return 1;
    const uint32_t oldest = p > MAX_DISTANCE ? p - MAX_DISTANCE : 0;
    for (const Run* earlier = Linked(Latest().previous); earlier;
         earlier = Linked(earlier->previous)) {
      const Run& run = *earlier;
      if (run.end < oldest + MIN_MATCH) break;
      const uint32_t a = run.start > oldest ? run.start : oldest;
      if (length <= r) {
        if (run.end - a >= length) return p - (run.end - length);
      } else if (run.end - a >= r && Common(base_ + run.end, base_ + e, length - r) == length - r) {
        return p - (run.end - r);
      }
    }
    return 0;
  }

  // The chain tables and the scan's position, copied into locals.
  struct Chains {
    uint32_t* head4;
    uint32_t* head5;
    uint32_t* head8;
    uint32_t* prev4;
    uint32_t* prev5;
    uint32_t* prev8;
    const uint8_t* base;
    uint32_t bias;
  };
  Chains Tables() {
    return {head4_.data(), head5_.data(), head8_.data(), prev4_, prev5_, prev8_, base_, bias_};
  }

  // The longest match at the non-run position p, `left` (MIN_MATCH or
  // more) bytes before the end of the input: 0 or MIN_MATCH..MAX_MATCH, as
  // the top of this file tells. *distance comes in as the previous
  // position's distance (0 for none), which is tried first, and goes out
  // as the nearest distance found for that length (0 for none). Enters p on
  // the chains. With BY_WORDS, more than WORDS_AHEAD bytes are left, and
  // candidates are compared a word at a time without regard to the end.
  template <bool BY_WORDS>
#if defined(__GNUC__)
  __attribute__((always_inline))
#endif
  static inline uint32_t
  ChainLongest(const Chains& c, uint32_t p, uint32_t left, uint32_t* distance) {
    const uint8_t* here = c.base + p;
    const uint32_t now = p + c.bias;
    const bool longKeys = BY_WORDS || left >= LONG_KEY;  // on the 5- and 8-byte chains
    const uint32_t limit = BY_WORDS || left >= MAX_MATCH ? MAX_MATCH : left;
    const uint64_t w0 = longKeys ? Load64(here) : 0;
    // Measures a candidate over the `limit` bytes ahead.
    auto measure = [=](const uint8_t* there) -> uint32_t {
      if (!BY_WORDS) return Common(there, here, limit);
      uint64_t x = Load64(there) ^ w0;
      if (x) return static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
      x = Load64(there + 8) ^ Load64(here + 8);
      if (x) return 8 + static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
      x = Load64(there + 11) ^ Load64(here + 11);
      return x ? 11 + static_cast<uint32_t>(__builtin_ctzll(x) >> 3) : MAX_MATCH;
    };
    const uint32_t h4 = HashOf4(longKeys ? w0 : Load32(here));
    const uint32_t h5 = HashOf5(w0), h8 = HashOf8(w0);
    const uint32_t chain4 = c.head4[h4];
    const uint32_t chain5 = longKeys ? c.head5[h5] : 0, chain8 = longKeys ? c.head8[h8] : 0;
    c.prev4[now & WINDOW_MASK] = chain4;
    c.head4[h4] = now;
    if (longKeys) {
      c.prev5[now & WINDOW_MASK] = chain5;
      c.head5[h5] = now;
      c.prev8[now & WINDOW_MASK] = chain8;
      c.head8[h8] = now;
    }
    uint32_t best = MIN_MATCH - 1, bestDistance = 0;
    if (*distance != 0) {                // it matched at p - 1, so it lies within reach
      best = measure(here - *distance);  // below MIN_MATCH it counts as no match, as at the end
      bestDistance = *distance;
    }
    if (!longKeys) {
      // Too near the end for the 5- and 8-byte chains: every candidate is
      // on the 4-byte chain.
      for (uint32_t q = chain4; best < limit && q + MAX_DISTANCE >= now;
           q = c.prev4[q & WINDOW_MASK]) {
        const uint32_t len = Common(c.base + (q - c.bias), here, limit);
        if (len > best) {
          best = len;
          bestDistance = now - q;
        }
      }
    } else {
      for (uint32_t q = chain8; best < limit && q + MAX_DISTANCE >= now;
           q = c.prev8[q & WINDOW_MASK]) {
        const uint32_t len = measure(c.base + (q - c.bias));
        if (len > best) {
          best = len;
          bestDistance = now - q;
        }
      }
      if (best < LONG_KEY - 1) {
        // Only 4..7 are left to find, and the first word tells them.
        for (uint32_t q = chain5; q + MAX_DISTANCE >= now; q = c.prev5[q & WINDOW_MASK]) {
          const uint64_t x = Load64(c.base + (q - c.bias)) ^ w0;
          const uint32_t len = static_cast<uint32_t>(__builtin_ctzll(x | (uint64_t{1} << 56)) >> 3);
          if (len > best) {
            best = len;
            bestDistance = now - q;
            if (best == LONG_KEY - 1) break;
          }
        }
        if (best < MIN_MATCH) {  // no 5 anywhere: 4 or nothing
          const uint32_t w4 = static_cast<uint32_t>(w0);
          for (uint32_t q = chain4; q + MAX_DISTANCE >= now; q = c.prev4[q & WINDOW_MASK]) {
            if (Load32(c.base + (q - c.bias)) == w4) {
              best = MIN_MATCH;
              bestDistance = now - q;
              break;
            }
          }
        }
      }
    }
    if (best < MIN_MATCH) {
      best = 0;
      bestDistance = 0;
    }
    *distance = bestDistance;
    return best;
  }

  // ChainLongest for the positions LongestRange does not walk inline:
  // near the end of the input, or all where words cannot be compared. Out
  // of line, so that the run positions' path through Longest stays small.
#if defined(__GNUC__)
  __attribute__((noinline))
#endif
  uint32_t
  ChainLongestNearEnd(uint32_t p, uint32_t left) {
    return ChainLongest<false>(Tables(), p, left, &lastDistance_);
  }

  // Enters a non-run position on the chains it belongs to: in Longest
  // mode, one with LONG_KEY bytes or more ahead on the 5- and 8-byte ones
  // too.
  void Enter(uint32_t p, const uint8_t* here, uint32_t h4) {
    const uint32_t now = p + bias_;
    if (mode_ == Mode::Longest && end_ - p >= LONG_KEY) {
      const uint64_t w = Load64(here);
      const uint32_t h5 = HashOf5(w), h8 = HashOf8(w);
      prev5_[now & WINDOW_MASK] = head5_[h5];
      head5_[h5] = now;
      prev8_[now & WINDOW_MASK] = head8_[h8];
      head8_[h8] = now;
    }
    prev4_[now & WINDOW_MASK] = head4_[h4];
    head4_[h4] = now;
  }

  const uint8_t* base_ = nullptr;  // data + origin_
  size_t origin_ = 0;
  size_t next_ = 0;     // the next position to enter (Nearest mode enters lazily)
  uint32_t bias_ = 0;   // internal position of the origin
  uint32_t limit_ = 0;  // internal positions of this scan stay below
  uint32_t end_ = 0;    // relative end of the input
  uint32_t span_ = 0;   // relative end of the positions this scan visits
  Mode mode_ = Mode::Longest;
  uint32_t lastDistance_ = 0;
  std::vector<uint32_t> head4_, head5_, head8_;
  uint32_t prev4_[WINDOW_SIZE];
  uint32_t prev5_[WINDOW_SIZE];
  uint32_t prev8_[WINDOW_SIZE];

  Run runs_[RUN_RING];
  uint32_t runCount_ = 0;
  uint32_t lastRunOf_[256];
  uint32_t lastAlike_[ALIKE_KEYS];
  uint32_t runStart_ = 0, runEnd_ = 0;  // the current (latest) run
  static constexpr uint32_t NO_TABLE = 0xFFFFFFFFu;
  uint32_t tableFor_ = NO_TABLE;  // runStart_ of the run gain_ describes
  uint32_t gain_[MAX_MATCH] = {};
  uint32_t gainDistance_[MAX_MATCH] = {};
};

}  // namespace popbox
