// UnpackBlob against a byte-by-byte reference decoder on encoder output and
// on damaged copies of it. Both must produce the same bytes, and on a stream
// that leaves the format UnpackBlob must fail at the same token, having
// written exactly what came before it.
#include <gtest/gtest.h>

#include <memory>

#include "encoder_test_data.h"
#include "packer/encoder.h"
#include "payload/unpack.h"

using popbox_test::Bytes;
using popbox_test::Rng;

namespace {

struct Decoded {
  bool ok;
  Bytes out;  // all bytes produced before the end or the failure
  // On failure: the bytes UnpackBlob has written by then. A token is
  // written whole or not at all; plain literals go out as one span up to
  // the next escape byte, so a span that does not fit is not written.
  size_t settled;
};

Decoded ReferenceDecode(const Bytes& in, size_t capacity) {
  Decoded r{false, {}, 0};
  size_t spanStart = 0;  // output position where the current literal span began
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] != 0xDF) {
      if (r.out.size() == capacity) {
        r.settled = spanStart;
        return r;
      }
      r.out.push_back(in[i++]);
      continue;
    }
    r.settled = r.out.size();
    if (in.size() - i < 2) return r;  // cut off after the escape byte
    uint8_t c = in[i + 1];
    if (c == 0) {
      if (r.out.size() == capacity) return r;
      r.out.push_back(0xDF);
      i += 2;
    } else {
      if (in.size() - i < 3) return r;  // cut off after the code byte
      uint8_t f = in[i + 2];
      i += 3;
      if (c < 128) {
        if (capacity - r.out.size() < c) return r;
        r.out.insert(r.out.end(), c, f);
      } else {
        size_t n = (c >> 3) - 12, distance = ((c & 7) << 8) | f;
        if (distance == 0 || distance > r.out.size()) return r;
        if (capacity - r.out.size() < n) return r;
        for (size_t k = 0; k < n; ++k) r.out.push_back(r.out[r.out.size() - distance]);
      }
    }
    spanStart = r.out.size();
  }
  r.ok = true;
  r.settled = r.out.size();
  return r;
}

// Source and destination are heap blocks of exactly their sizes.
void ExpectAgreement(const Bytes& packed, size_t capacity, const char* what) {
  Decoded want = ReferenceDecode(packed, capacity);
  std::unique_ptr<uint8_t[]> source(new uint8_t[packed.size() + 1]);
  std::copy(packed.begin(), packed.end(), source.get());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity + 1]);
  uint32_t got = popbox::UnpackBlob(source.get(), static_cast<uint32_t>(packed.size()), out.get(),
                                    static_cast<uint32_t>(capacity));
  SCOPED_TRACE(::testing::Message()
               << what << ": " << packed.size() << " packed bytes, capacity " << capacity);
  if (want.ok) {
    ASSERT_EQ(want.out.size(), got);
  } else {
    ASSERT_EQ(popbox::UNPACK_FAILED, got);
  }
  ASSERT_TRUE(std::equal(want.out.begin(), want.out.begin() + want.settled, out.get()));
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Each way out of the format, behind some output that must already be there.
TEST(DecoderDifferential, FailsAtTheTokenThatLeavesTheFormat) {
  const Bytes head = {'a', 'b', 'c', 0xDF, 0x00, 'd', 0xDF, 0x03, 'e'};  // 8 bytes out
  const struct {
    const char* what;
    Bytes tail;
  } cases[] = {
      {"distance 0", {0xDF, 0x80, 0x00}},
      {"distance 0 with high bits of the code", {0xDF, 0xF8, 0x00}},
      {"one byte before the start", {0xDF, 0x80, 0x09}},
      {"far before the start", {0xDF, 0x87, 0xFF}},
      {"exactly to the start", {0xDF, 0x80, 0x08}},
      {"cut after the escape byte", {0xDF}},
      {"cut after a run code", {0xDF, 0x05}},
      {"cut after a back-reference code", {0xDF, 0x80}},
      {"escaped literal at the end", {0xDF, 0x00}},
      {"literals after a bad token", {0xDF, 0x80, 0x00, 'x', 'y'}},
  };
  for (const auto& c : cases) {
    Bytes packed = Cat(head, c.tail);
    for (size_t capacity : {0, 3, 7, 8, 9, 11, 12, 13, 100})
      ExpectAgreement(packed, capacity, c.what);
  }
}

// Real encoder output, whole and damaged: a changed byte, a cut, an escape
// byte dropped in, at capacities around the true size.
TEST(DecoderDifferential, AgreesOnEncoderOutputAndDamagedCopies) {
  Rng rng(17);
  for (int round = 0; round < 400; ++round) {
    size_t size = 1 + rng.Below(round % 10 == 0 ? 6000 : 300);
    Bytes data = round % 3 == 0   ? popbox_test::TextLike(rng, size)
                 : round % 3 == 1 ? popbox_test::Repetitive(rng, size)
                                  : popbox_test::EscapeHeavy(rng, size);
    Bytes packed = round % 2 ? popbox::EncodeOptimal(data.data(), data.size())
                             : popbox::EncodeGreedy(data.data(), data.size());
    ExpectAgreement(packed, size, "whole");
    ExpectAgreement(packed, size - 1, "whole, one byte short");
    ExpectAgreement(packed, rng.Below(static_cast<uint32_t>(size)), "whole, short");

    uint32_t at = rng.Below(static_cast<uint32_t>(packed.size()));
    Bytes changed = packed;
    changed[at] = static_cast<uint8_t>(rng.Below(4) == 0 ? 0xDF : rng.Next());
    ExpectAgreement(changed, size + 200, "changed byte");
    ExpectAgreement(changed, size, "changed byte");
    ExpectAgreement(Bytes(packed.begin(), packed.begin() + at), size, "cut");
    Bytes inserted = packed;
    inserted.insert(inserted.begin() + at, 0xDF);
    ExpectAgreement(inserted, size + 200, "escape inserted");
  }
}

}  // namespace
