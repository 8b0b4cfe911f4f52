// Branding over arbitrary icon files and damaged stubs.
//
// Input: one byte of flags (bit 0: an icon, bit 1: version information),
// two bytes of stub offset and two of icon length (little-endian), the icon
// file, then bytes written over a small well-formed stub (test::SmallStub)
// at that offset: its headers, section table or resource tree.
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
#include "tests/support/small_stub.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t STUB_SIZE = test::STUB_SIZE;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bytes seed = test::SmallStub(8192);
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
