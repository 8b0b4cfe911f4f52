// A small stand-in for the stub, for the packer's tests and fuzz targets: a
// PE32 of 40960 bytes with .text and a last .rsrc section whose raw data
// runs to the end, holding icon group 101, a dialog and a named resource.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <random>
#include <vector>

#include "packer/branding/icon_file.h"
#include "packer/branding/resource_tree.h"
#include "packer/common/byte_io.h"

namespace test {

constexpr size_t STUB_SIZE = 40960;
// Field offsets, as the tests change them.
constexpr size_t PE = 0x80, OPTIONAL = 0x98, DIRS = OPTIONAL + 96, TEXT = 0x178, RSRC = TEXT + 40;

// A bitmap icon image: header, then palette, colour and mask rows filled
// from `seed`, so that every image differs.
inline std::vector<uint8_t> Bitmap(int size, int bits, uint32_t seed) {
  size_t palette = bits <= 8 ? size_t{1} << bits : 0;
  size_t rows = (size * bits + 31) / 32 * 4 + (size + 31) / 32 * 4;
  std::vector<uint8_t> b(40 + 4 * palette + rows * size);
  popbox::PutU32(b, 0, 40);
  popbox::PutU32(b, 4, static_cast<uint32_t>(size));
  popbox::PutU32(b, 8, static_cast<uint32_t>(2 * size));
  popbox::PutU16(b, 12, 1);
  popbox::PutU16(b, 14, static_cast<uint16_t>(bits));
  std::mt19937 rng(seed);
  for (size_t i = 40; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng());
  return b;
}

// Icon group 101 with two 1-bit images, a dialog, and a named type with a
// named resource in code page 1252.
inline popbox::ResourceTree SmallStubResources() {
  using popbox::ResourceName;
  popbox::ResourceTree tree;
  std::vector<popbox::IconImage> old(2);
  old[0] = {16, 16, 1, false, Bitmap(16, 1, 90)};
  old[1] = {32, 32, 1, false, Bitmap(32, 1, 91)};
  tree[ResourceName::Id(3)][ResourceName::Id(1)][1033].bytes = old[0].bytes;
  tree[ResourceName::Id(3)][ResourceName::Id(2)][1033].bytes = old[1].bytes;
  tree[ResourceName::Id(14)][ResourceName::Id(101)][1033].bytes =
      popbox::MakeIconGroup({&old[0], &old[1]}, {1, 2});
  tree[ResourceName::Id(5)][ResourceName::Id(102)][1033].bytes = std::vector<uint8_t>(300, 0xD1);
  tree[ResourceName{0, u"NOTES"}][ResourceName{0, u"README"}][1033] = {{'x', 'x', 'x'}, 1252};
  return tree;
}

// The stub with `room` bytes for resources at its end, holding `tree`.
inline std::vector<uint8_t> SmallStub(size_t room,
                                      const popbox::ResourceTree& tree = SmallStubResources()) {
  using popbox::PutU16;
  using popbox::PutU32;
  std::vector<uint8_t> b(STUB_SIZE, 0);
  b[0] = 'M', b[1] = 'Z';
  PutU32(b, 0x3C, PE);
  PutU32(b, PE, 0x4550);
  PutU16(b, PE + 4, 0x14C);
  PutU16(b, PE + 6, 2);      // sections
  PutU16(b, PE + 20, 0xE0);  // optional header size
  PutU16(b, OPTIONAL, 0x10B);
  PutU32(b, OPTIONAL + 32, 0x1000);  // section alignment
  PutU32(b, OPTIONAL + 36, 0x200);   // file alignment
  PutU32(b, OPTIONAL + 60, 0x200);   // size of headers
  PutU32(b, OPTIONAL + 92, 16);      // data directories
  const uint32_t offset = static_cast<uint32_t>(STUB_SIZE - room), text = offset - 0x200;
  const uint32_t rva = static_cast<uint32_t>(0x1000 + popbox::AlignUp(text, 0x1000));
  std::vector<uint8_t> rsrc = popbox::LayOutResourceTree(tree, rva);
  auto section = [&](size_t at, const char* name, uint32_t vsize, uint32_t address, uint32_t raw,
                     uint32_t from) {
    for (size_t i = 0; name[i]; ++i) b[at + i] = static_cast<uint8_t>(name[i]);
    PutU32(b, at + 8, vsize);
    PutU32(b, at + 12, address);
    PutU32(b, at + 16, raw);
    PutU32(b, at + 20, from);
  };
  section(TEXT, ".text", text, 0x1000, text, 0x200);
  section(RSRC, ".rsrc", static_cast<uint32_t>(rsrc.size()), rva, static_cast<uint32_t>(room),
          offset);
  PutU32(b, DIRS + 16, rva);
  PutU32(b, DIRS + 20, static_cast<uint32_t>(rsrc.size()));
  PutU32(b, OPTIONAL + 56, static_cast<uint32_t>(popbox::AlignUp(rva + rsrc.size(), 0x1000)));
  std::copy(rsrc.begin(), rsrc.end(), b.begin() + offset);
  // Code bytes that differ from zero, so that a copy of the stub is told
  // from zeros.
  std::mt19937 rng(99);
  for (size_t i = 0x200; i < offset; ++i) b[i] = static_cast<uint8_t>(rng());
  return b;
}

}  // namespace test
