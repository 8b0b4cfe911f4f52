// The optimal encoder against an exhaustive search on small and medium
// inputs, its match finder against a brute-force search, and both encoders
// on large inputs: the optimal output is never larger than the greedy one,
// and every output decodes to exactly its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "bench/greedy_encoder.h"
#include "encoder_test_data.h"
#include "packer/encoder.h"
#include "packer/match_finder.h"
#include "payload/unpack.h"

using popbox_test::Bytes;
using popbox_test::Rng;

namespace {

// How many bytes a back-reference of up to 19 at `distance` can cover at
// position i, found by decoding it byte by byte behind data[0, i) and
// comparing with the input.
size_t CopyCovers(const Bytes& data, size_t i, size_t distance) {
  uint8_t copied[19];
  size_t k = 0;
  for (; k < 19 && i + k < data.size(); ++k) {
    size_t from = i + k - distance;
    uint8_t b = from < i ? data[from] : copied[from - i];
    if (b != data[i + k]) break;
    copied[k] = b;
  }
  return k;
}

// The smallest packed size, trying every token at every position: a literal,
// a run of every possible count, a back-reference of every length at every
// distance. Memoised on the position, since whatever came before, the bytes
// behind position i are always data[0, i).
size_t ExhaustiveMinimum(const Bytes& data) {
  const size_t n = data.size();
  std::vector<size_t> best(n + 1, 0);
  for (size_t i = n; i-- > 0;) {
    size_t b = (data[i] == 0xDF ? 2 : 1) + best[i + 1];
    for (size_t k = 1; k <= 127 && i + k <= n && data[i + k - 1] == data[i]; ++k)
      b = std::min(b, 3 + best[i + k]);
    for (size_t d = 1; d <= std::min<size_t>(i, 2047); ++d) {
      size_t covers = CopyCovers(data, i, d);
      for (size_t len = 4; len <= covers; ++len) b = std::min(b, 3 + best[i + len]);
    }
    best[i] = b;
  }
  return best[0];
}

// Decodes into a heap block of exactly data.size() bytes, so the sanitizer
// build catches a write past the end.
::testing::AssertionResult DecodesTo(const Bytes& packed, const Bytes& data) {
  std::unique_ptr<uint8_t[]> source(new uint8_t[packed.size() + 1]);
  std::copy(packed.begin(), packed.end(), source.get());
  std::unique_ptr<uint8_t[]> out(new uint8_t[data.size() + 1]);
  uint32_t got = popbox::UnpackBlob(source.get(), static_cast<uint32_t>(packed.size()), out.get(),
                                    static_cast<uint32_t>(data.size()));
  if (got != data.size())
    return ::testing::AssertionFailure() << "decoded " << got << " bytes of " << data.size();
  if (!std::equal(data.begin(), data.end(), out.get()))
    return ::testing::AssertionFailure() << "decoded bytes differ";
  return ::testing::AssertionSuccess();
}

std::string Show(const Bytes& data) {
  static const char hex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < data.size() && i < 64; ++i) {
    s += hex[data[i] >> 4];
    s += hex[data[i] & 15];
  }
  return s + (data.size() > 64 ? "..." : "") + " (" + std::to_string(data.size()) + " bytes)";
}

void ExpectMinimal(const Bytes& data) {
  Bytes packed = popbox::EncodeOptimal(data.data(), data.size());
  ASSERT_EQ(ExhaustiveMinimum(data), packed.size()) << Show(data);
  ASSERT_TRUE(DecodesTo(packed, data)) << Show(data);
}

// Every string up to 12 bytes over two letters and up to 8 over three, one
// of them the escape byte: all interplays of literals, short runs, escaped
// literals and overlapping back-references at short distances.
TEST(EncodeOptimal, MatchesExhaustiveSearchOnEveryShortString) {
  struct Alphabet {
    Bytes letters;
    size_t maxLength;
  } alphabets[] = {{{'a', 'b'}, 12}, {{'a', 0xDF, 0x00}, 8}};
  for (const Alphabet& a : alphabets) {
    const size_t base = a.letters.size();
    for (size_t length = 0; length <= a.maxLength; ++length) {
      size_t count = 1;
      for (size_t k = 0; k < length; ++k) count *= base;
      for (size_t code = 0; code < count; ++code) {
        Bytes data(length);
        for (size_t k = 0, c = code; k < length; ++k, c /= base) data[k] = a.letters[c % base];
        ExpectMinimal(data);
      }
    }
  }
}

// Matches just inside and just outside the window: a random stretch seen
// again 2047 and 2048 bytes later, and a run of zeros with the same bytes
// behind it whose ends lie 2046 to 2049 bytes apart.
Bytes WindowEdges(Rng& rng) {
  Bytes edge = popbox_test::RandomBytes(rng, 2047);
  const Bytes head(edge.begin(), edge.begin() + 40);
  edge.insert(edge.end(), head.begin(), head.begin() + 30);
  edge.push_back(0);
  edge.insert(edge.end(), head.begin() + 2, head.end());
  const Bytes tail = popbox_test::RandomBytes(rng, 20);
  for (size_t spacing : {2046, 2047, 2048, 2049, 2047}) {
    size_t runEnd = edge.size() + 12;
    edge.insert(edge.end(), 12, 0);
    edge.insert(edge.end(), tail.begin(), tail.end());
    Bytes filler = popbox_test::RandomOver(rng, runEnd + spacing - 12 - edge.size(), {1, 2, 3, 4});
    edge.insert(edge.end(), filler.begin(), filler.end());
  }
  return edge;
}

// Longer inputs of every kind, including runs past 127 and repeats right at
// the edge of the window: a block repeated at distance 2046..2049.
TEST(EncodeOptimal, MatchesExhaustiveSearchOnLongerInputs) {
  Rng rng(7);
  for (int round = 0; round < 350; ++round) {
    size_t size = rng.Below(80);
    switch (round % 7) {
      case 0:
        ExpectMinimal(popbox_test::RandomOver(rng, size, {'x', 'y', 'z'}));
        break;
      case 1:
        ExpectMinimal(popbox_test::TextLike(rng, size));
        break;
      case 2:
        ExpectMinimal(popbox_test::Repetitive(rng, size));
        break;
      case 3:
        ExpectMinimal(popbox_test::EscapeHeavy(rng, size));
        break;
      case 4:
        ExpectMinimal(popbox_test::RandomOver(rng, size, {0xDF, 0xDF, 0x00, 0x80}));
        break;
      default:
        ExpectMinimal(popbox_test::RandomBytes(rng, size));
        break;
    }
  }
  for (size_t run : {126, 127, 128, 130, 254, 255, 300}) {
    Bytes data = popbox_test::TextLike(rng, 20);
    data.insert(data.end(), run, 'r');
    data.push_back('s');
    data.insert(data.end(), run, 0xDF);
    ExpectMinimal(data);
  }
  for (size_t distance = 2044; distance <= 2050; ++distance) {
    Bytes data = popbox_test::RandomBytes(rng, distance);
    const Bytes head(data.begin(), data.begin() + 40);
    data.insert(data.end(), head.begin(), head.end());
    data[distance + 20] ^= 1;
    ExpectMinimal(data);
  }
  ExpectMinimal(popbox_test::TextLike(rng, 5000));
  ExpectMinimal(popbox_test::Repetitive(rng, 5000));
  ExpectMinimal(popbox_test::Runs(rng, 5000));
  ExpectMinimal(WindowEdges(rng));
}

size_t BruteForceLongest(const Bytes& data, size_t pos) {
  size_t best = 0;
  for (size_t d = 1; d <= std::min<size_t>(pos, 2047); ++d)
    best = std::max(best, CopyCovers(data, pos, d));
  return best >= 4 ? best : 0;
}

// The match finder may miss nothing: at every position its length equals
// the brute-force longest, and its distance really gives that length.
TEST(MatchFinder, FindsTheLongestMatchAtEveryPosition) {
  Rng rng(11);
  std::vector<Bytes> inputs = {
      popbox_test::RandomOver(rng, 4000, {0, 1}),
      popbox_test::RandomOver(rng, 4000, {0, 1, 2, 3}),
      popbox_test::TextLike(rng, 4000),
      popbox_test::Repetitive(rng, 4000),
      popbox_test::EscapeHeavy(rng, 4000),
      popbox_test::Runs(rng, 6000),
      Bytes(500, 0x41),
  };
  inputs.push_back(WindowEdges(rng));

  for (const Bytes& data : inputs) {
    popbox::MatchFinder finder(data.data(), data.size());
    for (size_t pos = 0; pos < data.size(); ++pos) {
      popbox::Match m = finder.Next(static_cast<uint32_t>(pos));
      ASSERT_EQ(BruteForceLongest(data, pos), m.length) << "at " << pos << " of " << Show(data);
      if (m.length == 0) continue;
      ASSERT_TRUE(m.distance >= 1 && m.distance <= 2047 && m.distance <= pos);
      ASSERT_GE(CopyCovers(data, pos, m.distance), m.length) << "at " << pos;
    }
  }
}

// Large inputs: never larger than the greedy encoder, and both decode.
TEST(EncodeOptimal, NeverLargerThanGreedyOnLargeInputs) {
  Rng rng(13);
  struct Input {
    const char* kind;
    Bytes data;
  } inputs[] = {
      {"random", popbox_test::RandomBytes(rng, 300000)},
      {"two letters", popbox_test::RandomOver(rng, 200000, {'a', 'b'})},
      {"text", popbox_test::TextLike(rng, 1 << 20)},
      {"repetitive", popbox_test::Repetitive(rng, 1 << 20)},
      {"escape-heavy", popbox_test::EscapeHeavy(rng, 400000)},
      {"runs", popbox_test::Runs(rng, 400000)},
      {"one byte", Bytes(1 << 20, 0)},
      {"escape bytes", Bytes(100000, 0xDF)},
  };
  for (const Input& in : inputs) {
    Bytes optimal = popbox::EncodeOptimal(in.data.data(), in.data.size());
    Bytes greedy = popbox::EncodeGreedy(in.data.data(), in.data.size());
    EXPECT_LE(optimal.size(), greedy.size()) << in.kind;
    EXPECT_TRUE(DecodesTo(optimal, in.data)) << in.kind;
    EXPECT_TRUE(DecodesTo(greedy, in.data)) << in.kind;
  }
}

}  // namespace
