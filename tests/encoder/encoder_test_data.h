// Deterministic test inputs for the encoder tests: a small PRNG (its output
// is the same on every platform, unlike the standard distributions) and
// generators for the kinds of data a setup carries.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace popbox_test {

using Bytes = std::vector<uint8_t>;

// xorshift64*: tiny, and its sequence depends on nothing but the seed.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1Dull) >> 32);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

// Random bytes, each one of `letters`.
inline Bytes RandomOver(Rng& rng, size_t size, const Bytes& letters) {
  Bytes out(size);
  for (uint8_t& b : out) b = letters[rng.Below(static_cast<uint32_t>(letters.size()))];
  return out;
}

inline Bytes RandomBytes(Rng& rng, size_t size) {
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng.Next());
  return out;
}

// Words from a small vocabulary with spaces, punctuation and line breaks.
inline Bytes TextLike(Rng& rng, size_t size) {
  static const char* const words[] = {
      "the",     "setup",   "folder",   "install", "program", "files", "of",       "and",
      "license", "windows", "shortcut", "a",       "to",      "is",    "software", "copy",
      "GNU",     "General", "Public",   "you",     "may",     "not",   "under",    "terms"};
  Bytes out;
  while (out.size() < size) {
    const char* w = words[rng.Below(sizeof words / sizeof words[0])];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    uint32_t r = rng.Below(16);
    out.push_back(r == 0 ? '\n' : r == 1 ? ',' : r == 2 ? '.' : ' ');
  }
  out.resize(size);
  return out;
}

// Runs and repeated fragments: a block of random bytes copied again and
// again, with a few bytes changed and runs of one byte in between, like
// tables and padding in executables.
inline Bytes Repetitive(Rng& rng, size_t size) {
  Bytes block = RandomBytes(rng, 1 + rng.Below(300));
  Bytes out;
  while (out.size() < size) {
    switch (rng.Below(4)) {
      case 0:
        out.insert(out.end(), 1 + rng.Below(400), static_cast<uint8_t>(rng.Below(3) * 0x6F));
        break;
      case 1:
        block[rng.Below(static_cast<uint32_t>(block.size()))] = static_cast<uint8_t>(rng.Next());
        // fall through
      default:
        out.insert(out.end(), block.begin(), block.end());
    }
  }
  out.resize(size);
  return out;
}

// Runs of every length from 1 to 40 of a few byte values, between short
// random stretches: the padding and tables of executables.
inline Bytes Runs(Rng& rng, size_t size) {
  static const uint8_t values[] = {0x00, 0x00, 0x90, 0xFF, 0xDF};
  Bytes out;
  while (out.size() < size) {
    out.insert(out.end(), 1 + rng.Below(40), values[rng.Below(sizeof values)]);
    for (uint32_t k = rng.Below(4); k > 0; --k) out.push_back(static_cast<uint8_t>(rng.Below(3)));
  }
  out.resize(size);
  return out;
}

// Many escape bytes: single, in pairs, in runs, inside repeats.
inline Bytes EscapeHeavy(Rng& rng, size_t size) {
  Bytes out;
  while (out.size() < size) {
    uint32_t r = rng.Below(8);
    if (r < 3) {
      out.push_back(0xDF);
    } else if (r == 3) {
      out.insert(out.end(), 1 + rng.Below(200), 0xDF);
    } else if (r == 4 && out.size() > 30) {
      size_t from = out.size() - 1 - rng.Below(30);
      for (size_t k = 0, n = 4 + rng.Below(30); k < n; ++k) {
        uint8_t b = out[from + k];
        out.push_back(b);
      }
    } else {
      out.push_back(static_cast<uint8_t>(0xDC + rng.Below(6)));
    }
  }
  out.resize(size);
  return out;
}

}  // namespace popbox_test
