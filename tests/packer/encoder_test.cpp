// The greedy encoder against the decoder the stub uses, and the rule that
// picks stored or compressed contents.
#include "packer/encoder.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench/greedy_encoder.h"
#include "packer/payload_writer.h"
#include "payload/payload_format.h"
#include "payload/unpack.h"

namespace popbox {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t size, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng() % alphabet);
  return out;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Encodes, checks the stream decodes to exactly the input within exactly
// its size, and returns the packed size.
size_t RoundTrip(const Bytes& input) {
  Bytes packed = EncodeGreedy(input.data(), input.size());
  Bytes output(input.size() + 1, 0x55);
  uint32_t got = UnpackBlob(packed.data(), static_cast<uint32_t>(packed.size()), output.data(),
                            static_cast<uint32_t>(input.size()));
  EXPECT_EQ(got, input.size());
  output.pop_back();
  EXPECT_TRUE(output == input) << "decoded bytes differ";
  return packed.size();
}

Bytes SampleText() {
  std::string text;
  const char* words[] = {"setup ", "folder ", "the ", "install ", "file ", "program ", "\r\n"};
  std::mt19937 rng(7);
  while (text.size() < 20000) text += words[rng() % 7];
  return FromText(text);
}

TEST(EncodeGreedy, RoundTripsEveryKindOfInput) {
  EXPECT_EQ(RoundTrip({}), 0u);
  EXPECT_EQ(RoundTrip({0x41}), 1u);
  EXPECT_EQ(RoundTrip({ESCAPE_BYTE}), 2u);  // DF 00

  RoundTrip(RandomBytes(10000, 1));
  RoundTrip(RandomBytes(10000, 2, 3));  // short matches everywhere
  EXPECT_LT(RoundTrip(SampleText()), SampleText().size() / 2);

  // 0xDF-heavy: escaped literals, runs of the escape byte, and matches whose
  // code or distance byte is itself 0xDF.
  Bytes escapes = RandomBytes(8000, 3, 4);
  for (uint8_t& b : escapes) b = b == 0 ? ESCAPE_BYTE : b;
  RoundTrip(escapes);
  EXPECT_LE(RoundTrip(Bytes(1000, ESCAPE_BYTE)), 3 * (1000 / MAX_RUN + 1));
  // A 15-byte match from distance 0x7DF is the token DF DF DF: code and
  // distance bytes equal to the escape byte are taken as they stand.
  Bytes tricky = RandomBytes(0x7DF, 4);
  tricky.insert(tricky.end(), tricky.begin(), tricky.begin() + 15);
  tricky.push_back(static_cast<uint8_t>(tricky[15] + 1));
  RoundTrip(tricky);
  Bytes trickyPacked = EncodeGreedy(tricky.data(), tricky.size());
  const uint8_t threeEscapes[] = {ESCAPE_BYTE, ESCAPE_BYTE, ESCAPE_BYTE};
  EXPECT_NE(std::search(trickyPacked.begin(), trickyPacked.end(), threeEscapes, threeEscapes + 3),
            trickyPacked.end());

  // Runs longer than a token holds, and runs broken by one odd byte.
  EXPECT_LE(RoundTrip(Bytes(100000, 0)), 3 * (100000 / MAX_RUN + 1));
  Bytes broken(3000, 'x');
  for (size_t i = 0; i < broken.size(); i += 131) broken[i] = 'y';
  RoundTrip(broken);

  // A short period: overlapping back-references.
  Bytes period;
  for (int i = 0; i < 5000; ++i) period.push_back(static_cast<uint8_t>("abcde"[i % 5]));
  EXPECT_LT(RoundTrip(period), 5000u / 5);
}

TEST(EncodeGreedy, UsesTheWholeWindowAndNoMore) {
  // A random block repeated at distance 2047 compresses; repeated at 2048
  // it lies out of reach and must still round-trip.
  for (size_t size : {2046u, 2047u, 2048u, 2049u, 4094u, 4095u, 4096u, 4097u, 6200u}) {
    Bytes block = RandomBytes(MAX_DISTANCE, 10);
    Bytes reachable;
    while (reachable.size() < size) reachable.insert(reachable.end(), block.begin(), block.end());
    reachable.resize(size);
    size_t packed = RoundTrip(reachable);
    if (size >= 2 * MAX_DISTANCE) {
      EXPECT_LT(packed, size * 3 / 4) << size;
    }

    Bytes far = RandomBytes(MAX_DISTANCE + 1, 11);
    Bytes outOfReach;
    while (outOfReach.size() < size) outOfReach.insert(outOfReach.end(), far.begin(), far.end());
    outOfReach.resize(size);
    EXPECT_GE(RoundTrip(outOfReach), size) << size;
  }
}

TEST(ChooseContents, CompressesOnlyWhenStrictlySmaller) {
  // Equal size (four literals) and larger (an escaped 0xDF) are stored.
  RecordContents equal = ChooseContents(reinterpret_cast<const uint8_t*>("abcd"), 4, EncodeGreedy);
  EXPECT_FALSE(equal.compressed);
  uint8_t escape = ESCAPE_BYTE;
  EXPECT_FALSE(ChooseContents(&escape, 1, EncodeGreedy).compressed);

  // Many small inputs near the break-even point, from a tiny alphabet.
  for (uint32_t seed = 0; seed < 500; ++seed) {
    Bytes input = RandomBytes(seed % 24, seed, 3);
    for (uint8_t& b : input) b = b == 2 ? ESCAPE_BYTE : b;
    RecordContents contents = ChooseContents(input.data(), input.size(), EncodeGreedy);
    size_t encoded = EncodeGreedy(input.data(), input.size()).size();
    ASSERT_EQ(contents.compressed, encoded < input.size()) << seed;
    if (contents.compressed) {
      ASSERT_LT(contents.packed.size(), input.size());
    }
  }
}

// An encoder that lies is caught before its output reaches a setup.
TEST(ChooseContents, RefusesAStreamThatDoesNotDecodeToItsInput) {
  Encoder wrong = [](const uint8_t*, size_t) { return Bytes{ESCAPE_BYTE, 10, 'z'}; };
  Bytes input(10, 'a');
  EXPECT_THROW(ChooseContents(input.data(), input.size(), wrong), std::logic_error);
}

}  // namespace
}  // namespace popbox
