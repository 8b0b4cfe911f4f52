// The optimal encoder: every token has a fixed packed size (a literal 1, an
// escaped 0xDF 2, a run or a back-reference 3), so the smallest packed form
// is a shortest path over positions 0..size, where a token at position i is
// an edge to i + (bytes it covers).
//
// Edges at i:
//   literal                     -> i + 1, cost 1 (2 for 0xDF)
//   run of k copies of data[i]  -> i + k, cost 3, for k = 1..min(127, run at i)
//   back-reference of length l  -> i + l, cost 3, for l = 4..Lmax(i)
// All back-references cost the same whatever their distance, so only the
// longest match at i matters: its distance also serves every shorter length.
//
// Two passes. Forward, the exact match finder records Lmax(i) and a distance
// for every position. Backward, cost(i) = min over the edges of (edge cost +
// cost(target)); no edge reaches more than 127 ahead, so costs live in a
// small ring. The best run is the minimum of cost over a window that slides
// with i inside a run of equal bytes, kept in a monotonic queue, so runs cost
// O(1) per position however long they are. The chosen edge of each position
// overwrites its match record, and a last forward walk writes the tokens.

#include <stdexcept>

#include "packer/encoder.h"
#include "packer/match_finder.h"
#include "packer/tokens.h"
#include "payload/payload_format.h"

namespace popbox {

namespace {

// One 16-bit record per position. After the forward pass: the longest match
// (length << 11 | distance, or 0). After the backward pass: the chosen edge,
// encoded the same way for a back-reference, kRunTag << 11 | count for a run,
// 0 for a literal. Lengths are 4..19, so the tag 1 is free for runs.
constexpr uint32_t kDistanceBits = 11;
constexpr uint32_t kDistanceMask = (1u << kDistanceBits) - 1;
constexpr uint32_t kRunTag = 1;
static_assert(MAX_DISTANCE <= kDistanceMask, "distance must fit its field");
static_assert(MAX_RUN <= kDistanceMask, "run count must fit the distance field");
static_assert(MIN_MATCH > kRunTag && (MAX_MATCH << kDistanceBits) <= 0xFFFF, "layout");

constexpr uint32_t kTokenCost = 3;  // DF c f

// Costs of the positions i..i+kRing-1 during the backward pass.
constexpr size_t kRing = 256;
static_assert(kRing > MAX_RUN && kRing > MAX_MATCH, "the ring must cover the longest edge");

}  // namespace

std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size, std::atomic<uint64_t>* done) {
  std::vector<uint8_t> out;
  if (size == 0) return out;
  // Record sizes are 32-bit; positions in the match finder are too.
  if (size >= 0xFFFFFFFFu) throw std::length_error("EncodeOptimal: input of 4 GiB or more");

  std::vector<uint16_t> step(size);
  {
    MatchFinder finder(data, size);
    constexpr size_t kReport = size_t{1} << 20;  // the match search is most of the work
    for (size_t i = 0; i < size; ++i) {
      Match m = finder.Next(static_cast<uint32_t>(i));
      step[i] = static_cast<uint16_t>((m.length << kDistanceBits) | m.distance);
      if (done && (i + 1) % kReport == 0) *done += kReport;
    }
    if (done) *done += size % kReport;
  }

  uint64_t cost[kRing];
  auto costAt = [&cost](size_t i) -> uint64_t& { return cost[i % kRing]; };
  costAt(size) = 0;

  // Monotonic queue of run targets i+1..i+min(127, run): positions increase
  // from front to back and costs do not increase, so the back is the
  // cheapest (and, among equals, the longest) run.
  size_t queue[kRing];
  size_t qFront = 0, qBack = 0;  // ring indices; empty when equal
  size_t runLength = 0;          // bytes equal to data[i] from i on

  for (size_t i = size; i-- > 0;) {
    const uint8_t byte = data[i];
    const bool sameAsNext = i + 1 < size && data[i + 1] == byte;
    runLength = sameAsNext ? runLength + 1 : 1;
    if (!sameAsNext) qFront = qBack = 0;

    // Enter i+1 as the shortest run; retire the run that became too long.
    const uint64_t entering = costAt(i + 1);
    while (qFront != qBack && costAt(queue[qFront % kRing]) > entering) ++qFront;
    queue[--qFront % kRing] = i + 1;
    if (queue[(qBack - 1) % kRing] > i + MAX_RUN) --qBack;

    uint64_t best = entering + (byte == ESCAPE_BYTE ? 2 : 1);
    uint32_t choice = 0;

    const size_t runTarget = queue[(qBack - 1) % kRing];
    if (costAt(runTarget) + kTokenCost < best) {
      best = costAt(runTarget) + kTokenCost;
      choice = (kRunTag << kDistanceBits) | static_cast<uint32_t>(runTarget - i);
    }

    const uint32_t matchLength = step[i] >> kDistanceBits;
    const uint32_t distance = step[i] & kDistanceMask;
    // Longest first: among equal costs the longer token, so fewer tokens
    // for the decoder.
    for (uint32_t len = matchLength; len >= MIN_MATCH; --len) {
      if (costAt(i + len) + kTokenCost < best) {
        best = costAt(i + len) + kTokenCost;
        choice = (len << kDistanceBits) | distance;
      }
    }

    costAt(i) = best;
    step[i] = static_cast<uint16_t>(choice);
  }

  out.reserve(cost[0]);
  for (size_t i = 0; i < size;) {
    const uint32_t tag = step[i] >> kDistanceBits;
    const uint32_t low = step[i] & kDistanceMask;
    if (tag == 0) {
      PutLiteral(out, data[i]);
      i += 1;
    } else if (tag == kRunTag) {
      PutRun(out, low, data[i]);
      i += low;
    } else {
      PutMatch(out, tag, low);
      i += tag;
    }
  }
  return out;
}

}  // namespace popbox
