// The decoder against hand-made streams and against a plain byte-by-byte
// reference decoder. Input and output live in heap blocks of exactly the
// stated size, so the sanitizer build catches any read or write outside.
#include "payload/unpack.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>

#include "test_support.h"
#include "tests/support/reference_decoder.h"

using popbox::UNPACK_FAILED;
using popbox_test::Bytes;
using popbox_test::ToBytes;

namespace {

uint32_t Unpack(const Bytes& packed, uint32_t capacity, Bytes* out = nullptr) {
  std::unique_ptr<uint8_t[]> source(new uint8_t[packed.size()]);
  if (!packed.empty()) memcpy(source.get(), packed.data(), packed.size());
  std::unique_ptr<uint8_t[]> destination(new uint8_t[capacity]);
  uint32_t n = popbox::UnpackBlob(source.get(), static_cast<uint32_t>(packed.size()),
                                  destination.get(), capacity);
  if (out) out->assign(destination.get(), destination.get() + (n == UNPACK_FAILED ? 0 : n));
  return n;
}

// The reference decoder's answer in UnpackBlob's terms.
uint32_t ReferenceUnpack(const Bytes& in, uint32_t capacity, Bytes* out) {
  reference::Decoded d = reference::Decode(in.data(), in.size(), capacity);
  *out = d.out;
  return d.ok ? static_cast<uint32_t>(d.out.size()) : UNPACK_FAILED;
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

const Bytes kWorkedExample = {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00};

TEST(Unpack, TokenForms) {
  const Bytes prefix = LongPrefix();
  struct Case {
    const char* what;
    Bytes packed, expected;
  } cases[] = {
      {"worked example", kWorkedExample, ToBytes("abcabcabcabcxxxxxxxx\xDF")},
      {"empty input", {}, {}},
      {"no escape byte", ToBytes("plain\r\ntext\x80\xFF"), ToBytes("plain\r\ntext\x80\xFF")},
      {"escaped literal", {0xDF, 0x00}, {0xDF}},
      {"shortest run", {0xDF, 0x01, 0x41}, ToBytes("A")},
      {"longest run", {0xDF, 0x7F, 0x41}, Bytes(127, 0x41)},
      {"escape byte as run value", {0xDF, 0x03, 0xDF}, {0xDF, 0xDF, 0xDF}},
      {"distance 1 repeats", {0x78, 0xDF, 0xF8, 0x01}, Bytes(20, 0x78)},
      {"distance == n, to the start", Cat(ToBytes("abcd"), {0xDF, 0x80, 0x04}),
       ToBytes("abcdabcd")},
      {"distance > n", Cat(ToBytes("abcdefgh"), {0xDF, 0x80, 0x06}), ToBytes("abcdefghcdef")},
      {"distance < n", Cat(ToBytes("ab"), {0xDF, 0x88, 0x02}), ToBytes("abababa")},
      {"0xFF reaches 2047 back", Cat(prefix, {0xDF, 0xFF, 0xFF}),
       Cat(prefix, Bytes(prefix.begin(), prefix.begin() + 19))},
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

// Each token kind fits exactly into its output; any smaller capacity fails
// (and the sanitizer build shows that no byte is written past it).
TEST(Unpack, StopsAtCapacity) {
  const Bytes streams[] = {kWorkedExample,           ToBytes("literal span"),
                           {0x41, 0xDF, 0x00},       {0x41, 0xDF, 0x7F, 0x42},
                           {0x41, 0xDF, 0xF8, 0x01}, Cat(ToBytes("abcdefgh"), {0xDF, 0x80, 0x06})};
  for (const Bytes& packed : streams) {
    Bytes expected;
    uint32_t size = ReferenceUnpack(packed, 1u << 20, &expected);
    ASSERT_NE(UNPACK_FAILED, size);
    EXPECT_EQ(size, Unpack(packed, size));
    for (uint32_t capacity = 0; capacity < size; ++capacity)
      EXPECT_EQ(UNPACK_FAILED, Unpack(packed, capacity)) << "capacity " << capacity;
  }
}

TEST(Unpack, RejectsStreamsOutsideTheFormat) {
  const Bytes streams[] = {
      Cat(ToBytes("abc"), {0xDF, 0x80, 0x00}),  // distance 0
      Cat(ToBytes("abc"), {0xDF, 0x80, 0x04}),  // one byte before the start
      {0xDF, 0x80, 0x01},                       // nothing written yet
      Cat(Bytes(300, 1), {0xDF, 0x81, 0x2D}),   // 301 back
      {0x61, 0x62, 0xDF},
      {0xDF},  // cut after the escape byte
      {0x61, 0x62, 0xDF, 0x05},
      {0x61, 0xDF, 0x85}  // cut after a code byte
  };
  for (const Bytes& packed : streams) EXPECT_EQ(UNPACK_FAILED, Unpack(packed, 1000));
}

// Same result as the reference; after a failure, every token before the
// one that left the format is already written whole.
::testing::AssertionResult SameAsReference(const Bytes& packed, uint32_t capacity) {
  reference::Decoded want = reference::Decode(packed.data(), packed.size(), capacity);
  std::unique_ptr<uint8_t[]> source(new uint8_t[packed.size() + 1]);
  if (!packed.empty()) memcpy(source.get(), packed.data(), packed.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity + 1]);
  uint32_t got =
      popbox::UnpackBlob(source.get(), static_cast<uint32_t>(packed.size()), out.get(), capacity);
  bool same =
      want.ok ? got == want.out.size() && std::equal(want.out.begin(), want.out.end(), out.get())
              : got == UNPACK_FAILED &&
                    std::equal(want.out.begin(), want.out.begin() + want.settled, out.get());
  if (same) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "capacity " << capacity << ", expected " << (want.ok ? want.out.size() : UNPACK_FAILED)
          << ", got " << got << "; stream:";
  for (uint8_t b : packed) failure << ' ' << std::hex << int(b);
  return failure;
}

// Random token streams (many well-formed, many not) and random bytes from
// an alphabet rich in escape and code bytes, at several capacities.
TEST(Unpack, RandomStreamsMatchReference) {
  std::mt19937 rng(20240611u);
  const uint8_t alphabet[] = {0xDF, 0x00, 0x01, 0x03, 0x7F, 0x80, 0x81, 0x87, 0xF8, 0xFF, 'a'};
  for (int round = 0; round < 6000; ++round) {
    Bytes packed(rng() % 32, 'p');
    for (int tokens = static_cast<int>(rng() % 40); tokens > 0; --tokens) {
      uint32_t kind = rng() % 16, high = rng() % 16 == 0 ? rng() % 8 : 0;
      if (kind < 6) packed.push_back(static_cast<uint8_t>(rng() % 0xDF));
      if (kind == 6 || kind == 7) packed.insert(packed.end(), {0xDF, 0x00});
      if (kind == 8 || kind == 9)
        packed.insert(packed.end(), {0xDF, uint8_t(1 + rng() % 127), uint8_t(rng())});
      if (kind >= 10 && kind < 15)
        packed.insert(packed.end(),
                      {0xDF, uint8_t(0x80 | (rng() % 16) << 3 | high), uint8_t(rng() % 24)});
      if (kind == 15) packed.push_back(alphabet[rng() % sizeof alphabet]);
    }
    if (round % 2) {  // the same length of raw alphabet bytes
      for (uint8_t& b : packed) b = alphabet[rng() % sizeof alphabet];
    }
    Bytes natural;
    uint32_t size = ReferenceUnpack(packed, 1u << 20, &natural);
    ASSERT_TRUE(SameAsReference(packed, 1u << 16));
    if (size == UNPACK_FAILED || size == 0) continue;
    ASSERT_TRUE(SameAsReference(packed, size));
    ASSERT_TRUE(SameAsReference(packed, size - 1));
    ASSERT_TRUE(SameAsReference(packed, rng() % size));
  }
}

}  // namespace
