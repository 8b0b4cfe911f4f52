// A program's resource tree (the .rsrc section) in memory: type, name and
// language, each leaf holding the resource's bytes. Read from a section's
// bytes with every offset checked, and laid out again as a new section.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace popbox {

// Resource types by number.
constexpr uint16_t RT_ICON_ID = 3;
constexpr uint16_t RT_GROUP_ICON_ID = 14;
constexpr uint16_t RT_VERSION_ID = 16;

// A type or a name: a number, or a string (UTF-16) when `text` is not
// empty. Named entries sort before numbered ones, as the format requires.
struct ResourceName {
  uint16_t id = 0;
  std::u16string text;

  static ResourceName Id(uint16_t id) { return ResourceName{id, {}}; }
  bool operator<(const ResourceName& other) const {
    if (text.empty() != other.text.empty()) return !text.empty();
    return text.empty() ? id < other.id : text < other.text;
  }
  bool operator==(const ResourceName& other) const { return id == other.id && text == other.text; }
};

struct ResourceData {
  std::vector<uint8_t> bytes;
  uint32_t codePage = 0;
  bool operator==(const ResourceData& other) const {
    return bytes == other.bytes && codePage == other.codePage;
  }
};

using ResourceLanguages = std::map<uint16_t, ResourceData>;
using ResourceNames = std::map<ResourceName, ResourceLanguages>;
using ResourceTree = std::map<ResourceName, ResourceNames>;

// Reads the tree from the first `size` bytes of `section`, the resource
// directory as loaded at `rva`. The tree must have exactly three levels,
// every entry reached once, and every resource's bytes inside those `size`
// bytes. Throws BrandError.
ResourceTree ReadResourceTree(const uint8_t* section, size_t size, uint32_t rva);

// The bytes of the tree laid out at `rva`: the directories, the data
// entries, the name strings and the resources' bytes, each resource on a
// 4-byte boundary. Empty types and names are left out.
std::vector<uint8_t> LayOutResourceTree(const ResourceTree& tree, uint32_t rva);

// The size LayOutResourceTree would give, without copying any bytes.
size_t ResourceTreeSize(const ResourceTree& tree);

}  // namespace popbox
