// The decoder against hand-made streams and against a plain byte-by-byte
// reference decoder. Input and output live in heap blocks of exactly the
// stated size, so the sanitizer build catches any read or write outside.
#include "payload/unpack.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string.h>

#include "test_support.h"

using popbox::UNPACK_FAILED;
using popbox_test::Bytes;
using popbox_test::ToBytes;

namespace {

uint32_t Unpack(const Bytes& packed, uint32_t capacity, Bytes* out = nullptr) {
  std::unique_ptr<uint8_t[]> source(new uint8_t[packed.size()]);
  if (!packed.empty()) memcpy(source.get(), packed.data(), packed.size());
  std::unique_ptr<uint8_t[]> destination(new uint8_t[capacity]);
  uint32_t n =
      popbox::UnpackBlob(source.get(), static_cast<uint32_t>(packed.size()), destination.get(),
                         capacity);
  if (out) out->assign(destination.get(), destination.get() + (n == UNPACK_FAILED ? 0 : n));
  return n;
}

// The format written out as plainly as possible: one byte at a time, and
// every way a stream can leave the format ends the decoding.
uint32_t ReferenceUnpack(const Bytes& in, uint32_t capacity, Bytes* out) {
  out->clear();
  size_t i = 0;
  auto put = [&](uint8_t b) {
    if (out->size() >= capacity) return false;
    out->push_back(b);
    return true;
  };
  while (i < in.size()) {
    uint8_t b = in[i++];
    if (b != 0xDF) {
      if (!put(b)) return UNPACK_FAILED;
      continue;
    }
    if (i == in.size()) return UNPACK_FAILED;
    uint8_t c = in[i++];
    if (c == 0) {
      if (!put(0xDF)) return UNPACK_FAILED;
      continue;
    }
    if (i == in.size()) return UNPACK_FAILED;
    uint8_t f = in[i++];
    if (c < 128) {
      for (int k = 0; k < c; ++k)
        if (!put(f)) return UNPACK_FAILED;
      continue;
    }
    size_t n = (c >> 3) - 12, distance = ((c & 7) << 8) | f;
    if (distance == 0 || distance > out->size()) return UNPACK_FAILED;
    for (size_t k = 0; k < n; ++k)
      if (!put((*out)[out->size() - distance])) return UNPACK_FAILED;
  }
  return static_cast<uint32_t>(out->size());
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// 2047 literal bytes without an escape byte among them.
Bytes LongPrefix() {
  Bytes prefix;
  for (int i = 0; i < 2047; ++i) prefix.push_back(static_cast<uint8_t>(i % 211));
  return prefix;
}

TEST(Unpack, WorkedExample) {
  Bytes packed = {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00};
  Bytes out;
  ASSERT_EQ(21u, Unpack(packed, 21, &out));
  EXPECT_EQ(ToBytes("abcabcabcabcxxxxxxxx\xDF"), out);
}

TEST(Unpack, TokenForms) {
  const Bytes prefix = LongPrefix();
  Bytes reachBack = Cat(prefix, Bytes(prefix.begin(), prefix.begin() + 19));
  struct Case {
    const char* what;
    Bytes packed, expected;
  } cases[] = {
      {"empty input", {}, {}},
      {"no escape byte", ToBytes("plain\r\ntext\x80\xFF"), ToBytes("plain\r\ntext\x80\xFF")},
      {"escaped literal", {0xDF, 0x00}, {0xDF}},
      {"shortest run", {0xDF, 0x01, 0x41}, ToBytes("A")},
      {"longest run", {0xDF, 0x7F, 0x41}, Bytes(127, 0x41)},
      {"escape byte as run value", {0xDF, 0x03, 0xDF}, {0xDF, 0xDF, 0xDF}},
      {"distance 1 repeats", {0x78, 0xDF, 0xF8, 0x01}, Bytes(20, 0x78)},
      {"distance == n", Cat(ToBytes("abcd"), {0xDF, 0x80, 0x04}), ToBytes("abcdabcd")},
      {"distance > n", Cat(ToBytes("abcdefgh"), {0xDF, 0x80, 0x06}), ToBytes("abcdefghcdef")},
      {"distance < n", Cat(ToBytes("ab"), {0xDF, 0x88, 0x02}), ToBytes("abababa")},
      {"0xFF reaches 2047 back", Cat(prefix, {0xDF, 0xFF, 0xFF}), reachBack},
      {"high distance bits", Cat(prefix, {0xDF, 0x87, 0x00}),
       Cat(prefix, Bytes(prefix.end() - 1792, prefix.end() - 1788))},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(c.expected.size(), Unpack(c.packed, static_cast<uint32_t>(c.expected.size()), &out))
        << c.what;
    EXPECT_EQ(c.expected, out) << c.what;
  }
}

// Each token kind fits exactly into its output; one byte less fails, and
// never by writing the byte that does not fit.
TEST(Unpack, StopsAtCapacity) {
  const Bytes streams[] = {
      {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00},
      ToBytes("literal span"),
      {0x41, 0xDF, 0x00},
      {0x41, 0xDF, 0x7F, 0x42},
      {0x41, 0xDF, 0xF8, 0x01},
      Cat(ToBytes("abcdefgh"), {0xDF, 0x80, 0x06}),
  };
  for (const Bytes& packed : streams) {
    Bytes expected;
    uint32_t size = ReferenceUnpack(packed, 1u << 20, &expected);
    ASSERT_NE(UNPACK_FAILED, size);
    EXPECT_EQ(size, Unpack(packed, size));
    for (uint32_t capacity = 0; capacity < size; ++capacity)
      EXPECT_EQ(UNPACK_FAILED, Unpack(packed, capacity)) << "capacity " << capacity;
  }
}

TEST(Unpack, RejectsBadDistances) {
  EXPECT_EQ(UNPACK_FAILED, Unpack(Cat(ToBytes("abc"), {0xDF, 0x80, 0x00}), 100)) << "distance 0";
  EXPECT_EQ(UNPACK_FAILED, Unpack(Cat(ToBytes("abc"), {0xDF, 0x80, 0x04}), 100)) << "before start";
  EXPECT_EQ(UNPACK_FAILED, Unpack({0xDF, 0x80, 0x01}, 100)) << "nothing written yet";
  EXPECT_EQ(UNPACK_FAILED, Unpack(Cat(Bytes(300, 1), {0xDF, 0x81, 0x2D}), 400)) << "301 back";
  EXPECT_EQ(7u, Unpack(Cat(ToBytes("abc"), {0xDF, 0x80, 0x03}), 7)) << "exactly to the start";
}

TEST(Unpack, RejectsTokensCutOffByTheEnd) {
  EXPECT_EQ(UNPACK_FAILED, Unpack({0x61, 0x62, 0xDF}, 100));
  EXPECT_EQ(UNPACK_FAILED, Unpack({0xDF}, 100));
  EXPECT_EQ(UNPACK_FAILED, Unpack({0x61, 0x62, 0xDF, 0x05}, 100));
  EXPECT_EQ(UNPACK_FAILED, Unpack({0x61, 0x62, 0xDF, 0x85}, 100));
  EXPECT_EQ(3u, Unpack({0x61, 0x62, 0xDF, 0x00}, 3));
}

void ExpectSameAsReference(const Bytes& packed, uint32_t capacity) {
  Bytes expected, out;
  uint32_t want = ReferenceUnpack(packed, capacity, &expected);
  uint32_t got = Unpack(packed, capacity, &out);
  ASSERT_EQ(want, got) << "stream of " << packed.size() << " bytes, capacity " << capacity;
  if (want != UNPACK_FAILED) ASSERT_EQ(expected, out);
}

// Every back-reference code at short and long distances, where the decoder
// chooses between a block copy and a byte-by-byte one.
TEST(Unpack, EveryBackReferenceCodeMatchesReference) {
  const Bytes prefix = LongPrefix();
  for (int c = 0x80; c <= 0xFF; ++c) {
    for (int f : {1, 2, 3, 4, 5, 7, 8, 11, 12, 18, 19, 20, 255}) {
      Bytes packed = Cat(prefix, {0xDF, static_cast<uint8_t>(c), static_cast<uint8_t>(f)});
      uint32_t size = 2047 + (c >> 3) - 12;
      ExpectSameAsReference(packed, size);
      ExpectSameAsReference(packed, size - 1);
    }
  }
}

// Random token streams (mostly well-formed, some not) and random bytes from
// an alphabet rich in escape and code bytes, at several capacities.
TEST(Unpack, RandomStreamsMatchReference) {
  std::mt19937 rng(20240611u);
  const uint8_t alphabet[] = {0xDF, 0x00, 0x01, 0x03, 0x7F, 0x80, 0x81, 0x87, 0xF8, 0xFF, 'a'};
  for (int round = 0; round < 6000; ++round) {
    Bytes packed;
    int tokens = static_cast<int>(rng() % 40);
    for (int t = 0; t < tokens; ++t) {
      switch (rng() % 8) {
        case 0:
        case 1:
          packed.push_back(static_cast<uint8_t>(rng() % 0xDF));
          break;
        case 2:
          packed.insert(packed.end(), {0xDF, 0x00});
          break;
        case 3:
          packed.insert(packed.end(), {0xDF, static_cast<uint8_t>(1 + rng() % 127),
                                       static_cast<uint8_t>(rng())});
          break;
        case 4:
        case 5: {
          uint32_t high = rng() % 4 == 0 ? rng() % 8 : 0;
          packed.insert(packed.end(), {0xDF, static_cast<uint8_t>(0x80 | (rng() % 16) << 3 | high),
                                       static_cast<uint8_t>(rng() % 24)});
          break;
        }
        default:
          packed.push_back(alphabet[rng() % sizeof alphabet]);
      }
    }
    if (round % 2) {  // the same length of raw alphabet bytes
      for (uint8_t& b : packed) b = alphabet[rng() % sizeof alphabet];
    }
    Bytes natural;
    uint32_t size = ReferenceUnpack(packed, 1u << 20, &natural);
    ExpectSameAsReference(packed, 1u << 16);
    if (size == UNPACK_FAILED || size == 0) continue;
    ExpectSameAsReference(packed, size);
    ExpectSameAsReference(packed, size - 1);
    ExpectSameAsReference(packed, rng() % size);
  }
}

}  // namespace
