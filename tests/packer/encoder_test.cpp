// The encoder: never larger than an exhaustive search finds possible,
// always decoding to its input, the same bytes however the work is cut up
// (which also holds the match finder to the whole search); and the rule
// that a record is stored unless compressing makes it strictly smaller.
#include "packer/encoder/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "packer/common/codepage.h"
#include "packer/encoder/payload_writer.h"
#include "payload/unpack.h"
#include "support.h"

using namespace popbox;
using test::Bytes;

namespace {

// The smallest packed size, trying every token at every position: a
// literal, every run, every back-reference at every distance, decoded byte
// by byte against the input.
size_t ExhaustiveMinimum(const Bytes& data) {
  const size_t n = data.size();
  std::vector<size_t> best(n + 1, 0);
  for (size_t i = n; i-- > 0;) {
    size_t b = (data[i] == ESCAPE_BYTE ? 2 : 1) + best[i + 1];
    for (size_t k = 1; k <= MAX_RUN && i + k <= n && data[i + k - 1] == data[i]; ++k)
      b = std::min(b, 3 + best[i + k]);
    for (size_t d = 1; d <= std::min<size_t>(i, MAX_DISTANCE); ++d) {
      size_t covers = 0;  // overlapping copies repeat the last d bytes
      while (covers < MAX_MATCH && i + covers < n && data[i + covers] == data[i + covers - d])
        ++covers;
      for (size_t len = MIN_MATCH; len <= covers; ++len) b = std::min(b, 3 + best[i + len]);
    }
    best[i] = b;
  }
  return best[0];
}

::testing::AssertionResult RoundTrips(const Bytes& data, size_t* packedSize = nullptr) {
  static EncoderScratch scratch;  // as each of pack's threads keeps one
  Bytes packed = EncodeOptimal(data.data(), data.size(), &scratch);
  if (packedSize) *packedSize = packed.size();
  std::unique_ptr<uint8_t[]> out(new uint8_t[data.size() + 1]);
  uint32_t n = UnpackBlob(packed.data(), uint32_t(packed.size()), out.get(), uint32_t(data.size()));
  if (n != data.size() || !std::equal(data.begin(), data.end(), out.get()))
    return ::testing::AssertionFailure() << "does not decode to its " << data.size() << " bytes";
  return ::testing::AssertionSuccess();
}

// Every string up to 12 bytes over two letters and up to 8 over three, one
// of them the escape byte.
TEST(Encoder, OptimalOnEveryShortString) {
  const struct {
    Bytes letters;
    size_t maxLength;
  } alphabets[] = {{{'a', 'b'}, 12}, {{'a', 0xDF, 0x00}, 8}};
  for (const auto& a : alphabets) {
    for (size_t length = 0, count = 1; length <= a.maxLength; ++length, count *= a.letters.size()) {
      for (size_t code = 0; code < count; ++code) {
        Bytes data(length);
        for (size_t k = 0, c = code; k < length; ++k, c /= a.letters.size())
          data[k] = a.letters[c % a.letters.size()];
        size_t packed = 0;
        ASSERT_TRUE(RoundTrips(data, &packed));
        ASSERT_EQ(ExhaustiveMinimum(data), packed) << length << "/" << code;
      }
    }
  }
}

// Inputs of the shapes that matter: runs past 127, periodic data, escape
// bytes, repeats just inside and just outside the window, and text over 16
// letters, whose many different 4-byte strings share hash buckets with the
// few that repeat.
Bytes Shaped(std::mt19937& random, size_t size) {
  Bytes data;
  while (data.size() < size) {
    switch (random() % 6) {
      case 5:
        for (size_t k = 0, n = 50 + random() % 200; k < n; ++k)
          data.push_back(uint8_t('a' + random() % 16));
        break;
      case 0:
        data.insert(data.end(), random() % 300, uint8_t(random() % 3 ? 0 : 0xDF));
        break;
      case 1:
        for (int k = 0, p = 1 + random() % 7; k < 40; ++k) data.push_back(uint8_t('a' + k % p));
        break;
      case 2: {
        Bytes r = test::Random(random() % 60, random());
        data.insert(data.end(), r.begin(), r.end());
        break;
      }
      default: {
        size_t back = std::min(data.size(), size_t(2040 + random() % 12));
        size_t from = data.size() - back, n = random() % 30;
        for (size_t k = 0; k < n && from + k < data.size(); ++k) data.push_back(data[from + k]);
      }
    }
  }
  return data;
}

TEST(Encoder, OptimalOnLongerInputs) {
  std::mt19937 random(7);
  for (int round = 0; round < 120; ++round) {
    Bytes data = Shaped(random, size_t(200 + round % 12 * 210));
    size_t packed = 0;
    ASSERT_TRUE(RoundTrips(data, &packed)) << round;
    ASSERT_EQ(ExhaustiveMinimum(data), packed) << round;
  }
  ASSERT_TRUE(RoundTrips(test::Random(1 << 20, 3)));
}

// A large input is planned in pieces on several threads and written in
// chunks: no number of jobs changes a byte, nor any way of cutting it up
// when distances are searched while writing (kept ones are the match
// search's choice, which depends on where a piece starts); runs and repeats
// across the cuts included, and the exact size is known before the first
// byte.
TEST(Encoder, SameBytesForAnyJobsAndPieces) {
  std::mt19937 random(11);
  std::vector<Bytes> inputs = {Bytes(5000, 0), Bytes(3 << 20, 0xDF)};
  for (int round = 0; round < 6; ++round) inputs.push_back(Shaped(random, 3000 + round * 7000));
  Bytes big = Shaped(random, 1 << 20);
  big.insert(big.end(), big.begin(), big.begin() + (1 << 20));  // more than one chunk
  inputs.push_back(big);
  for (const Bytes& data : inputs) {
    const Bytes whole = EncodeOptimal(data.data(), data.size());
    for (bool search : {false, true}) {
      Bytes searched;  // the same for every cut
      for (size_t pieceSize : {512, 1500, 0}) {
        Bytes kept = pieceSize == 0 ? whole : Bytes();  // the same for every number of jobs
        for (unsigned jobs : {1, 2, 3}) {
          OptimalOptions options;
          options.jobs = jobs;
          options.pieceSize = pieceSize;
          options.searchDistances = search;
          uint64_t lastProgress = 0;
          options.progress = [&](uint64_t done) {
            EXPECT_GE(done, lastProgress);
            lastProgress = done;
          };
          OptimalEncoder encoder(data.data(), data.size(), options);
          EXPECT_EQ(whole.size(), encoder.PackedSize());
          Bytes out;
          encoder.Write([&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); });
          Bytes& same = search ? searched : kept;
          if (same.empty()) same = out;
          ASSERT_TRUE(out == same) << data.size() << " bytes, pieces " << pieceSize << ", jobs "
                                   << jobs << (search ? ", searched" : ", kept");
          EXPECT_EQ(2 * data.size(), lastProgress);
        }
      }
    }
  }
}

TEST(Encoder, StoredUnlessStrictlySmaller) {
  const struct {
    std::string data;
    bool compressed;
  } cases[] = {{"abcd", false},
               {"\xDF", false},
               {std::string(3, 'x'), false},
               {std::string(4, 'x'), true},
               {std::string(100, '\xDF'), true}};
  for (const auto& c : cases) {
    RecordContents contents =
        ChooseContents(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size());
    EXPECT_EQ(c.compressed, contents.compressed) << c.data.size();
  }
}

// The names of the packer tests show the 1252 mapping and its folding; here
// every byte of each page comes back the way it went, and Cyrillic folds.
TEST(CodePage, ConvertsAndFoldsAsWindows) {
  std::string bytes, problem;
  EXPECT_FALSE(Utf8ToCodePage(*FindCodePage(1252), "\xC3", &bytes, &problem));
  for (int number : {1250, 1251, 1252}) {  // extract undoes pack, undefined slots aside
    for (int b = 0; b < 256; ++b) {
      std::string one(1, char(b)), back;
      const CodePage& page = *FindCodePage(number);
      if (Utf8ToCodePage(page, CodePageToUtf8(page, one), &back, &problem)) {
        EXPECT_EQ(one, back) << number << " " << b;
      } else {
        EXPECT_TRUE(b >= 0x80 && b < 0xA0) << number << " " << b;
      }
    }
  }
  EXPECT_EQ(CaseFoldKey(*FindCodePage(1251), "\xEF"), CaseFoldKey(*FindCodePage(1251), "\xCF"));
}

}  // namespace
