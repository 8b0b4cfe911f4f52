// The optimal encoder. Every token has a fixed packed size (a literal 1, an
// escaped 0xDF 2, a run or a back-reference 3), so the smallest packed form
// is a shortest path over positions 0..size, where a token at i is an edge
// to i + (bytes it covers): a literal to i+1, a run of k to i+k (k up to 127
// and the run of equal bytes at i), a back-reference of l to i+l (l from 4
// to Lmax(i), the longest match at i; its distance serves every shorter l).
// Ties go, as they always have, to the literal, then the cheapest longest
// run, then the longest back-reference, so the parse is the very one the
// previous single-threaded encoder made; only back-reference distances may
// differ.
//
// Memory is the input plus one plan byte per position (and two for a
// distance, up to KEPT bytes of input), and the work is cut into
// pieces so that several threads share it:
//  1. Plan, per piece, in parallel: the match finder (match_finder.h),
//     primed with the MAX_DISTANCE bytes before the piece, writes Lmax(i)
//     into the plan bytes, and a distance giving it beside them when they
//     are kept; then the backward shortest-path pass over the
//     piece overwrites each with the chosen token. The costs of the next
//     piece are not known yet, so that pass assumes 0 for them. Each piece
//     keeps the Lmax of its last TAIL positions and its first 127 costs.
//  2. Fix up, sequentially from the last piece back: the last piece is
//     exact (its end is the end of the input). For the one before, the pass
//     is run again from its end, with the real costs of the next piece,
//     side by side with the assumed one. Costs computed from the same
//     inputs differ by a constant once the two agree on 127 consecutive
//     positions (no edge reaches further; the run queue holds only
//     positions of that window), so from there on every choice is the same
//     and the pass stops. It typically stops within a few hundred bytes; it
//     can take the whole piece (a run across the boundary keeps its phase),
//     recomputing Lmax beyond the saved tail: slower, never inexact. The
//     exact packed size, cost(0), is then known before any byte is written.
//  3. Write: a cheap walk along the chosen tokens finds where each output
//     chunk starts, done by the delivering thread a few chunks ahead of the
//     writers; chunks are written in parallel and handed out in order. A
//     back-reference takes the kept distance, which serves any length up
//     to Lmax; without one, the chunk finds it by a scan of its own (the
//     nearest candidate reaching the chosen length, a function of the input
//     alone). Each chunk is unpacked behind a copy of the MAX_DISTANCE
//     input bytes before it and compared before it leaves.
// Pieces depend on the input's size alone, never on the jobs, so neither
// do the bytes. A kept distance is the match finder's choice among equally
// long matches, which depends on where its scan started: the bytes then
// depend on the piece size too (the packed size never does).

#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

#include "packer/common/byte_buffer.h"
#include "packer/common/work_pool.h"
#include "packer/encoder/encoder.h"
#include "packer/encoder/match_finder.h"
#include "packer/encoder/tokens.h"
#include "payload/payload_format.h"
#include "payload/unpack.h"

namespace popbox {

namespace {

// Plan bytes after the parse: the token that starts at a position.
constexpr uint8_t PLAN_LITERAL = 0;  // 1..MAX_RUN: a run of that many
constexpr uint8_t PLAN_MATCH = 128;  // PLAN_MATCH + length: a back-reference
static_assert(MAX_RUN < PLAN_MATCH && PLAN_MATCH + MAX_MATCH <= 0xFF, "token codes fit a byte");

inline size_t TokenLength(uint8_t code) {
  return code == PLAN_LITERAL ? 1 : code < PLAN_MATCH ? code : code - PLAN_MATCH;
}

constexpr uint64_t TOKEN_COST = 3;  // DF c f
constexpr size_t REACH = MAX_RUN;   // no edge reaches further
constexpr size_t RING = 256;        // costs of i..i+255 during the backward pass
static_assert(RING > REACH && REACH >= MAX_MATCH, "the ring must cover the longest edge");

constexpr size_t MIN_PIECE = 2 * RING;
constexpr size_t DEFAULT_PIECE = size_t{1} << 20;
constexpr size_t MAX_PIECES = 1024;        // bounds the per-piece side data
constexpr size_t TAIL = 8192;              // Lmax kept per piece for the fix-up
constexpr size_t CHUNK = size_t{1} << 20;  // input bytes per output chunk
constexpr size_t MAX_CHUNKS_IN_FLIGHT = 8;

// The backward shortest-path pass. Step(i) needs the costs of i+1..i+127,
// kept in a ring, and the run targets i+1..i+min(127, run at i) in a
// monotonic queue (positions rise and costs do not rise from front to back,
// so the back is the cheapest and, among equals, the longest run). The
// queue's contents are a function of the costs in that window alone, which
// is what lets the fix-up stop once two passes agree on a window.
//
// The back-reference wanted is the cheapest target among i+4..i+Lmax(i)
// and, among equals, the furthest. Within any 16 consecutive positions the
// key 16 * cost(j) - j orders targets exactly that way, so the least key of
// the 1 to 16 targets answers it, and gives back both the cost and the
// position (j mod 16 = -key mod 16). Those keys differ by less than 2^12:
// cost(a) <= cost(j) + 2 (j - a) by literals, and the cheapest path from a
// lands at most 126 bytes past j, from where j costs at most 2 a byte, so
// cost(j) <= cost(a) + 252. Their low 16 bits therefore order them too, as
// differences from the first one's, 8 at a time where SSE2 is there.
#if defined(__SSE2__)
// DROP.lanes[w - 1]: 0 in the first w of 16 lanes, 0x7FFF in the others;
// added with saturation to key differences (below 2^12 either way), it
// lifts every lane past the w-th above all the others.
struct DropLanes {
  alignas(16) int16_t lanes[16][16];
  constexpr DropLanes() : lanes() {
    for (int w = 0; w < 16; ++w)
      for (int lane = w + 1; lane < 16; ++lane) lanes[w][lane] = 0x7FFF;
  }
};
constexpr DropLanes DROP;
#endif

class Parse {
 public:
  Parse(const uint8_t* data, size_t size) : data_(data), size_(size) {
    memset(cost_, 0, sizeof cost_);
    memset(low_, 0, sizeof low_);
  }

  // Ready for Step(end - 1): the costs of end..end+REACH-1 are boundary[]
  // (all 0 when null; those past the input are never read).
  void Begin(size_t end, const uint64_t* boundary) {
    for (size_t k = REACH; k-- > 0;) Record(end + k, boundary ? boundary[k] : 0);
    next_ = Cost(end);
    front_ = back_ = 0;
    if (end >= 1 && end < size_ && data_[end] == data_[end - 1]) {
      // The run targets of end - 1 past `end`, which its Step enters.
      const uint8_t b = data_[end - 1];
      size_t count = 1;
      while (count < MAX_RUN && end - 1 + count < size_ && data_[end - 1 + count] == b) ++count;
      for (size_t t = end - 1 + count; t > end; --t) Enter(t, front_, back_);
    }
  }

  // The cheapest token at i (ties as described at the top of this file),
  // given Lmax(i); records cost(i).
  uint8_t Step(size_t i, uint32_t longest) {
    return StepAt(i, longest, data_, size_, front_, back_, next_);
  }

  // Step(i) for i = to-1 down to from, each Lmax taken from plan[i] and
  // replaced by the token chosen.
  void Steps(size_t from, size_t to, uint8_t* plan) {
    const uint8_t* const data = data_;
    const size_t size = size_;
    size_t front = front_, back = back_;  // locals: stores to the rings cannot touch them
    uint64_t next = next_;
    for (size_t i = to; i-- > from;) plan[i] = StepAt(i, plan[i], data, size, front, back, next);
    front_ = front;
    back_ = back;
    next_ = next;
  }

  uint64_t Cost(size_t i) const { return cost_[i % RING]; }

 private:
  static_assert(MAX_MATCH - MIN_MATCH + 1 <= 16, "one window of 16 keys");

#if defined(__GNUC__)
  __attribute__((always_inline))
#endif
  inline uint8_t
  StepAt(size_t i, uint32_t longest, const uint8_t* data, size_t size, size_t& front, size_t& back,
         uint64_t& next) {
    const uint8_t byte = data[i];
    uint64_t best = next + (byte == ESCAPE_BYTE ? 2 : 1);
    uint8_t choice = PLAN_LITERAL;
    if (!(i + 1 < size && data[i + 1] == byte)) {
      // No run beyond one byte, which never beats the literal: the queue
      // is just i+1.
      front = back = 0;
      queue_[--front % RING] = i + 1;
      if (longest < MIN_MATCH) {
        Record(i, best);
        next = best;
        return PLAN_LITERAL;
      }
    } else {
      Enter(i + 1, front, back);
      if (queue_[(back - 1) % RING] > i + MAX_RUN) --back;
      const size_t runTarget = queue_[(back - 1) % RING];
      if (Cost(runTarget) + TOKEN_COST < best) {
        best = Cost(runTarget) + TOKEN_COST;
        choice = static_cast<uint8_t>(runTarget - i);
      }
    }

    // Targets i+4..i+longest: the least key among them.
    const uint32_t width = longest >= MIN_MATCH ? longest - MIN_MATCH + 1 : 1;
    const size_t a = i + MIN_MATCH;
    const int64_t key = LeastKey(a, width);
    const size_t target = a + ((static_cast<uint64_t>(-key) - a) & 15);
    const uint64_t viaMatch =
        static_cast<uint64_t>(key + static_cast<int64_t>(target)) / 16 + TOKEN_COST;
    const bool match = longest >= MIN_MATCH && viaMatch < best;
    best = match ? viaMatch : best;
    choice = match ? static_cast<uint8_t>(PLAN_MATCH + (target - i)) : choice;

    Record(i, best);
    next = best;
    return choice;
  }

  void Record(size_t j, uint64_t cost) {
    const size_t r = j % RING;
    cost_[r] = cost;
    const int16_t low = static_cast<int16_t>(cost * 16 - j);
    low_[r] = low;
    if (r < 16) low_[r + RING] = low;  // the copy a window read from near the end takes
  }

  // The least of the `width` (1..16) keys of a, a+1, ...
  int64_t LeastKey(size_t a, uint32_t width) const {
    const size_t r = a % RING;
    const int64_t key = static_cast<int64_t>(cost_[r] * 16) - static_cast<int64_t>(a);
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi16(low_[r]);
    const __m128i* drop = reinterpret_cast<const __m128i*>(DROP.lanes[width - 1]);
    const __m128i* low = reinterpret_cast<const __m128i*>(low_ + r);
    const __m128i x = _mm_adds_epi16(_mm_sub_epi16(_mm_loadu_si128(low), first), drop[0]);
    const __m128i y = _mm_adds_epi16(_mm_sub_epi16(_mm_loadu_si128(low + 1), first), drop[1]);
    __m128i least = _mm_min_epi16(x, y);
    least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0x4E));
    least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0xB1));
    least = _mm_min_epi16(least, _mm_shufflelo_epi16(least, 0xB1));
    return key + static_cast<int16_t>(_mm_cvtsi128_si32(least));
#else
    int16_t least = 0;
    for (uint32_t w = 1; w < width; ++w)
      least = std::min(least, static_cast<int16_t>(low_[r + w] - low_[r]));
    return key + least;
#endif
  }

  void Enter(size_t target, size_t& front, size_t& back) {
    const uint64_t c = Cost(target);
    while (front != back && Cost(queue_[front % RING]) > c) ++front;
    queue_[--front % RING] = target;
  }

  const uint8_t* data_;
  size_t size_;
  uint64_t cost_[RING];
  // The low 16 bits of the key 16 * cost(j) - j, at j % RING; the first 16
  // once more RING later, so that a window of 16 never wraps.
  int16_t low_[RING + 16];
  size_t queue_[RING];
  size_t front_ = 0, back_ = 0;  // ring indices, wrapping; empty when equal
  // cost(i + 1) for the next Step(i), carried in a register through Steps
  // rather than read back from the ring the step before has just written.
  uint64_t next_ = 0;
};

// Inputs up to KEPT bytes keep the match finder's distances, 2 bytes a
// position, which spares the writer a second search; larger ones search
// again rather than hold three times their size. Their plan and distances
// reuse the buffers of the caller's EncoderScratch, which grow to the
// largest of them, so that packing many files does not fault the same
// memory in again for each.
constexpr size_t KEPT = size_t{16} << 20;

struct Piece {
  size_t start = 0, end = 0;
  std::vector<uint8_t> tail;  // Lmax of end - tail.size() .. end - 1
  uint64_t head[REACH] = {};  // the costs of start.. as the piece's own pass found them
};

// Lmax(i) for i falling from a piece's end during its fix-up: the saved
// tail first, then recomputed TAIL at a time by a scan primed MAX_DISTANCE
// before.
class Longests {
 public:
  Longests(const uint8_t* data, size_t size, const Piece& piece, MatchFinder& finder)
      : data_(data), size_(size), piece_(piece), finder_(finder), buffer_(piece.tail) {
    low_ = piece.end - buffer_.size();
  }
  uint32_t At(size_t i) {
    if (i < low_) {
      const size_t high = low_;
      low_ = high - piece_.start > TAIL ? high - TAIL : piece_.start;
      const size_t origin = low_ > MAX_DISTANCE ? low_ - MAX_DISTANCE : 0;
      finder_.Start(data_, size_, origin, high - origin, MatchFinder::Mode::Longest);
      for (size_t p = origin; p < low_; ++p) finder_.Skip(p);
      buffer_.resize(high - low_);
      finder_.LongestRange(low_, high, buffer_.data());
    }
    return buffer_[i - low_];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  const Piece& piece_;
  MatchFinder& finder_;
  std::vector<uint8_t> buffer_;
  size_t low_;
};

// A worker's finder, made on its first use by that worker.
MatchFinder& OwnFinder(std::unique_ptr<MatchFinder>& finder) {
  if (!finder) finder.reset(new MatchFinder);
  return *finder;
}

}  // namespace

struct EncoderScratch::Parts {
  MatchFinder finder;
  ByteBuffer plan;       // up to KEPT bytes
  ByteBuffer distances;  // 2 bytes for each of the plan's
  ByteBuffer out,
      check;  // a chunk's packed bytes and its unpacked copy, when written on one thread
};

EncoderScratch::EncoderScratch() : parts(new Parts) {}
EncoderScratch::~EncoderScratch() = default;

struct OptimalEncoder::State {
  const uint8_t* data;
  size_t size;
  OptimalOptions options;
  std::unique_ptr<EncoderScratch> ownScratch;  // when the caller gives none
  EncoderScratch::Parts* scratch;              // the caller's thread's finder and plan buffer
  ByteBuffer plan;                             // Lmax, then the chosen tokens
  ByteBuffer distances;                        // the storage of `kept`
  uint16_t* kept = nullptr;                    // when kept: kept[i] gives Lmax(i)
  bool keepPlan = false;                       // the plan is the scratch's buffer

  ~State() {  // the scratch's buffers given back
    if (keepPlan) std::swap(plan, scratch->plan);
    if (kept) std::swap(distances, scratch->distances);
  }
  std::vector<Piece> pieces;
  uint64_t packedSize = 0;
  bool written = false;

  void PlanPiece(Piece& piece, MatchFinder& finder);
  void FixUp(Piece& piece, uint64_t* boundary, MatchFinder& finder);
  size_t WriteChunk(size_t from, size_t boundary, ByteBuffer* out, ByteBuffer* scratch,
                    MatchFinder& finder) const;
};

OptimalEncoder::OptimalEncoder(const uint8_t* data, size_t size, const OptimalOptions& options)
    : state_(new State) {
  State& s = *state_;
  s.data = data;
  s.size = size;
  s.options = options;
  if (s.options.jobs < 1) s.options.jobs = 1;
  if (size >= 0xFFFFFFFFu) throw std::length_error("OptimalEncoder: input of 4 GiB or more");
  if (!options.scratch) s.ownScratch.reset(new EncoderScratch);
  s.scratch = (options.scratch ? options.scratch : s.ownScratch.get())->parts.get();
  if (size == 0) return;
  s.keepPlan = options.scratch && size <= KEPT;
  if (s.keepPlan) std::swap(s.plan, s.scratch->plan);
  s.plan.Resize(size);
  if (!options.searchDistances && size <= KEPT) {
    std::swap(s.distances, s.scratch->distances);
    s.kept = reinterpret_cast<uint16_t*>(s.distances.Resize(2 * size));
  }

  size_t pieceSize = options.pieceSize ? std::max(options.pieceSize, MIN_PIECE) : DEFAULT_PIECE;
  pieceSize = std::max(pieceSize, (size + MAX_PIECES - 1) / MAX_PIECES);
  const size_t count = std::max<size_t>(1, size / pieceSize);
  s.pieces.resize(count);
  for (size_t k = 0; k < count; ++k) {
    s.pieces[k].start = k * pieceSize;
    s.pieces[k].end = k + 1 < count ? (k + 1) * pieceSize : size;
  }

  // The pieces on `jobs` threads, the caller's among them with its own
  // finder; the others make theirs.
  std::atomic<uint64_t> planned{0};
  const unsigned helpers = static_cast<unsigned>(std::min<size_t>(s.options.jobs, count) - 1);
  std::vector<std::unique_ptr<MatchFinder>> finders(helpers + 1);
  WorkPool plan(helpers, count, [&](size_t k, unsigned worker) {
    MatchFinder& finder = worker == 0 ? s.scratch->finder : OwnFinder(finders[worker]);
    s.PlanPiece(s.pieces[k], finder);
    planned += s.pieces[k].end - s.pieces[k].start;
  });
  plan.Extend(count);
  plan.Help([&] {
    if (s.options.progress) s.options.progress(planned.load());
  });

  uint64_t boundary[REACH];
  std::copy(s.pieces.back().head, s.pieces.back().head + REACH, boundary);
  MatchFinder& finder = s.scratch->finder;
  for (size_t k = count - 1; k-- > 0;) {
    s.FixUp(s.pieces[k], boundary, finder);
    std::vector<uint8_t>().swap(s.pieces[k].tail);
  }
  s.packedSize = boundary[0];
  if (s.options.progress) s.options.progress(size);
}

OptimalEncoder::~OptimalEncoder() = default;

uint64_t OptimalEncoder::PackedSize() const { return state_->packedSize; }

void OptimalEncoder::State::PlanPiece(Piece& piece, MatchFinder& finder) {
  const size_t start = piece.start, end = piece.end;
  const size_t origin = start > MAX_DISTANCE ? start - MAX_DISTANCE : 0;
  finder.Start(data, size, origin, end - origin, MatchFinder::Mode::Longest);
  for (size_t p = origin; p < start; ++p) finder.Skip(p);
  finder.LongestRange(start, end, plan.data() + start, kept ? kept + start : nullptr);
  if (end < size)
    piece.tail.assign(plan.data() + end - std::min(TAIL, end - start), plan.data() + end);

  Parse parse(data, size);
  parse.Begin(end, nullptr);
  parse.Steps(start, end, plan.data());
  for (size_t k = 0; k < REACH; ++k) piece.head[k] = parse.Cost(start + k);
}

// On entry `boundary` holds the real costs of piece.end..+REACH-1; on exit
// those of piece.start..+REACH-1.
void OptimalEncoder::State::FixUp(Piece& piece, uint64_t* boundary, MatchFinder& finder) {
  const size_t start = piece.start, end = piece.end;
  Parse assumed(data, size), real(data, size);
  assumed.Begin(end, nullptr);
  real.Begin(end, boundary);
  Longests longests(data, size, piece, finder);
  size_t i = end, streak = 0;
  uint64_t offset = 0;
  while (i > start) {
    --i;
    const uint32_t longest = longests.At(i);
    assumed.Step(i, longest);
    plan.data()[i] = real.Step(i, longest);
    const uint64_t o = real.Cost(i) - assumed.Cost(i);
    streak = streak != 0 && o == offset ? streak + 1 : 1;
    offset = o;
    if (streak == REACH) break;  // positions i..i+126 agree: so does all before
  }
  for (size_t k = 0; k < REACH; ++k) {
    const size_t p = start + k;
    boundary[k] = p < i ? piece.head[k] + offset : real.Cost(p);
  }
}

// Each output chunk ends where the first token at or past the next
// multiple of CHUNK after its start begins: the next chunk's start.
static size_t ChunkBoundary(size_t start, size_t size) {
  return std::min(size, (start / CHUNK + 1) * CHUNK);
}

// The chunk starts, found by a walk along the chosen tokens, literal
// stretches eight plan bytes at a time: cheap, and done by the delivering
// thread a few chunks ahead of the writers when there are several (one
// writer finds each end as it writes).
class ChunkWalk {
 public:
  ChunkWalk(const uint8_t* plan, size_t size) : plan_(plan), size_(size) {}

  // The start of the next chunk, or the size at the end.
  size_t Next() {
    size_t p = position_;
    const size_t boundary = ChunkBoundary(p, size_);
    while (p < boundary) {
      if (plan_[p] != PLAN_LITERAL) {
        p += TokenLength(plan_[p]);
        continue;
      }
      for (++p; p + 8 <= boundary; p += 8) {
        uint64_t word;
        memcpy(&word, plan_ + p, 8);
        if (word) break;
      }
      while (p < boundary && plan_[p] == PLAN_LITERAL) ++p;
    }
    if (p > size_) throw std::logic_error("OptimalEncoder: the tokens overrun the input");
    position_ = p;
    return p;
  }

 private:
  const uint8_t* plan_;
  size_t size_;
  size_t position_ = 0;
};

// Writes the tokens from `from` (a token's start) up to the first that
// starts at or past `boundary`, and returns where that one starts: the
// chunk's end, as ChunkWalk finds it.
size_t OptimalEncoder::State::WriteChunk(size_t from, size_t boundary, ByteBuffer* out,
                                         ByteBuffer* scratch, MatchFinder& finder) const {
  const size_t origin = from > MAX_DISTANCE ? from - MAX_DISTANCE : 0;
  const size_t reach = std::min(size, boundary + MAX_RUN);  // no token ends further
  if (!kept) finder.Start(data, size, origin, reach - origin, MatchFinder::Mode::Nearest);

  // At most 2 bytes per input byte: the parse never takes a token that
  // costs more than the literals it replaces (checked all the same).
  const size_t room = 2 * (reach - from) + 3;
  uint8_t* const first = out->Resize(room);
  uint8_t* o = first;
  const uint8_t* const oEnd = o + room;
  size_t p = from;
  while (p < boundary) {
    if (oEnd - o < 3) throw std::logic_error("OptimalEncoder: a chunk outgrew its buffer");
    const uint8_t code = plan.data()[p];
    const uint8_t byte = data[p];
    if (code == PLAN_LITERAL) {
      do {
        o = PutLiteral(o, data[p]);
      } while (++p < boundary && plan.data()[p] == PLAN_LITERAL && oEnd - o >= 2);
    } else if (code < PLAN_MATCH) {
      o = PutRun(o, code, byte);
      p += code;
    } else {
      const uint32_t length = code - PLAN_MATCH;
      const uint32_t distance = kept ? kept[p] : finder.Nearest(p, length);
      if (distance == 0) throw std::logic_error("OptimalEncoder: no match where one was found");
      o = PutMatch(o, length, distance);
      p += length;
    }
  }
  if (p > size) throw std::logic_error("OptimalEncoder: the tokens overrun the input");
  out->Resize(static_cast<size_t>(o - first));

  // Unpacked behind the bytes it may refer to, it must give the input.
  const size_t history = from - origin, length = p - from;
  uint8_t* const check = scratch->Resize(history + length);
  memcpy(check, data + origin, history);
  const uint32_t got =
      UnpackBlobAt(first, static_cast<uint32_t>(out->size()), check, static_cast<uint32_t>(history),
                   static_cast<uint32_t>(history + length));
  if (got != length || memcmp(check + history, data + from, length) != 0) {
    throw std::logic_error("the encoder produced a stream that does not decode to its input");
  }
  return p;
}

void OptimalEncoder::Write(const std::function<void(const uint8_t*, size_t)>& sink) {
  State& s = *state_;
  if (s.written) throw std::logic_error("OptimalEncoder::Write called twice");
  s.written = true;
  if (s.size == 0) return;

  std::vector<size_t> starts{0};  // starts[c], starts[c+1]: chunk c; never reallocated
  starts.reserve(s.size / CHUNK + 2);
  struct Slot {
    ByteBuffer out, scratch;
  };
  const size_t window = std::min<size_t>(2 * s.options.jobs, MAX_CHUNKS_IN_FLIGHT);
  std::vector<Slot> slots(window);
  uint64_t packed = 0;
  auto deliver = [&](size_t c, Slot& slot) {
    packed += slot.out.size();
    const bool last = starts[c + 1] == s.size;
    if (packed > s.packedSize || (last && packed != s.packedSize)) {
      throw std::logic_error("OptimalEncoder: the stream differs from the planned size");
    }
    sink(slot.out.data(), slot.out.size());
    if (s.options.progress) s.options.progress(s.size + starts[c + 1]);
  };

  if (s.options.jobs == 1 || s.size <= CHUNK) {
    // The caller's buffers, kept from file to file: fresh ones would be
    // faulted in and zeroed by the system for each.
    Slot& slot = slots[0];
    std::swap(slot.out, s.scratch->out);
    std::swap(slot.scratch, s.scratch->check);
    struct GiveBack {
      Slot& slot;
      EncoderScratch::Parts& parts;
      ~GiveBack() {
        std::swap(slot.out, parts.out);
        std::swap(slot.scratch, parts.check);
      }
    } giveBack{slot, *s.scratch};
    MatchFinder& finder = s.scratch->finder;
    for (size_t c = 0; starts.back() < s.size; ++c) {
      const size_t from = starts[c];
      starts.push_back(
          s.WriteChunk(from, ChunkBoundary(from, s.size), &slot.out, &slot.scratch, finder));
      deliver(c, slot);
    }
    return;
  }

  // Workers write the chunks, at most `window` ahead of the caller, which
  // walks ahead of them to find where each starts and hands them out in
  // order.
  ChunkWalk walk(s.plan.data(), s.size);
  std::vector<std::unique_ptr<MatchFinder>> finders(s.options.jobs + 1);
  WorkPool writers(s.options.jobs, window, [&](size_t c, unsigned worker) {
    Slot& slot = slots[c % window];
    s.WriteChunk(starts[c], starts[c + 1], &slot.out, &slot.scratch, OwnFinder(finders[worker]));
  });
  for (size_t c = 0;; ++c) {
    while (starts.back() < s.size && starts.size() <= c + window + 1) {
      starts.push_back(walk.Next());
      writers.Extend(starts.size() - 1);
    }
    if (c + 1 >= starts.size()) break;  // every chunk handed out
    writers.Take(c);
    deliver(c, slots[c % window]);
    writers.Release(c);
  }
}

std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size, EncoderScratch* scratch) {
  OptimalOptions options;
  options.scratch = scratch;
  OptimalEncoder encoder(data, size, options);
  std::vector<uint8_t> out;
  out.reserve(encoder.PackedSize());
  encoder.Write(
      [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); });
  return out;
}

}  // namespace popbox
