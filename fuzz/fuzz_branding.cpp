// Branding over arbitrary icon files and damaged stubs.
//
// Input: one byte of flags (bit 0: an icon, bit 1: version information),
// two bytes of stub offset and two of icon length (little-endian), the icon
// file, then bytes written over a small well-formed stub at that offset
// (its headers, section table or resource tree, as the offset falls).
//
// BrandStub may refuse (BrandError) but must not crash or touch memory
// outside its buffers; what it returns must be a stub of the same size
// whose resources read back, with every image that group 101 lists present.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "packer/byte_io.h"
#include "packer/icon_file.h"
#include "packer/packer_error.h"
#include "packer/pe_image.h"
#include "packer/resource_tree.h"
#include "packer/stub_branding.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t STUB_SIZE = 40960;
constexpr size_t ROOM = 8192;

// MZ, PE32 header at 0x80, .text and a .rsrc section whose raw data runs to
// the end, holding icon group 101 with one image, a dialog and a named
// resource.
Bytes SeedStub() {
  using popbox::PutU16;
  using popbox::PutU32;
  using popbox::ResourceName;
  popbox::ResourceTree tree;
  popbox::IconImage image{16, 16, 1, false, Bytes(176, 0x33)};
  tree[ResourceName::Id(3)][ResourceName::Id(1)][1033].bytes = image.bytes;
  tree[ResourceName::Id(14)][ResourceName::Id(101)][1033].bytes =
      popbox::MakeIconGroup({&image}, {1});
  tree[ResourceName::Id(5)][ResourceName::Id(102)][1033].bytes = Bytes(64, 0xD1);
  tree[ResourceName{0, u"NOTES"}][ResourceName{0, u"A"}][1033].bytes = Bytes(3, 'x');
  const uint32_t rva = 0x9000;
  Bytes rsrc = popbox::LayOutResourceTree(tree, rva);
  Bytes b(STUB_SIZE, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(b, 0x3C, 0x80);
  PutU32(b, 0x80, 0x4550);
  PutU16(b, 0x86, 2);
  PutU16(b, 0x94, 0xE0);
  PutU16(b, 0x98, 0x10B);
  PutU32(b, 0x98 + 32, 0x1000);
  PutU32(b, 0x98 + 36, 0x200);
  PutU32(b, 0x98 + 56, 0xA000);
  PutU32(b, 0x98 + 60, 0x200);
  PutU32(b, 0x98 + 92, 16);
  PutU32(b, 0x98 + 112, rva);
  PutU32(b, 0x98 + 116, static_cast<uint32_t>(rsrc.size()));
  const size_t table = 0x178;
  memcpy(&b[table], ".text", 5);
  PutU32(b, table + 8, 0x7E00);
  PutU32(b, table + 12, 0x1000);
  PutU32(b, table + 16, static_cast<uint32_t>(STUB_SIZE - ROOM - 0x200));
  PutU32(b, table + 20, 0x200);
  memcpy(&b[table + 40], ".rsrc", 5);
  PutU32(b, table + 48, static_cast<uint32_t>(rsrc.size()));
  PutU32(b, table + 52, rva);
  PutU32(b, table + 56, static_cast<uint32_t>(ROOM));
  PutU32(b, table + 60, static_cast<uint32_t>(STUB_SIZE - ROOM));
  memcpy(&b[STUB_SIZE - ROOM], rsrc.data(), rsrc.size());
  return b;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bytes seed = SeedStub();
  if (size < 5) return 0;
  uint8_t flags = data[0];
  size_t offset = (data[1] | data[2] << 8) % STUB_SIZE;
  size_t iconLength = data[3] | data[4] << 8;
  data += 5;
  size -= 5;
  if (iconLength > size) iconLength = size;

  popbox::BrandOptions options;
  if (flags & 1) {
    options.iconPath = "icon.ico";
    options.iconFile.assign(data, data + iconLength);
  }
  if (flags & 2) {
    options.version.productVersion = "1.2.3.4";
    options.version.company = "Fuzz";
  }
  Bytes stub = seed;
  size_t patch = size - iconLength;
  if (patch > STUB_SIZE - offset) patch = STUB_SIZE - offset;
  memcpy(stub.data() + offset, data + iconLength, patch);

  popbox::BrandedStub branded;
  try {
    branded = popbox::BrandStub(stub, "stub.exe", options);
  } catch (const popbox::BrandError&) {
    return 0;
  }
  Check(branded.image.size() == stub.size());
  if (!options.Any()) return 0;
  popbox::PeImage pe(branded.image);
  popbox::ResourceRoom room = popbox::FindResourceRoom(branded.image);
  popbox::PeDirectory d = pe.Directory(popbox::PE_DIRECTORY_RESOURCE);
  popbox::ResourceTree tree =
      popbox::ReadResourceTree(branded.image.data() + room.offset, d.size, d.rva);
  if (flags & 1) {
    const auto& group = tree.at(popbox::ResourceName::Id(14)).at(popbox::ResourceName::Id(101));
    Check(group.size() == 1);
    for (uint16_t id : popbox::IconGroupIds(group.begin()->second.bytes)) {
      Check(tree.at(popbox::ResourceName::Id(3))
                .at(popbox::ResourceName::Id(id))
                .count(group.begin()->first) == 1);
    }
  }
  return 0;
}
