#include "packer/branding/resource_tree.h"

#include <set>

#include "packer/common/byte_io.h"

namespace popbox {

namespace {

constexpr uint32_t HIGH_BIT = 0x80000000u;

class TreeReader {
 public:
  TreeReader(const uint8_t* section, size_t size, uint32_t rva)
      : in_(section, size, "the resources"), rva_(rva) {}

  ResourceTree Read() {
    ResourceTree tree;
    for (const Entry& type : Directory(0, "the resource directory")) {
      ResourceNames& names = tree[type.name];
      for (const Entry& name : Directory(Subdirectory(type), "a type's directory")) {
        ResourceLanguages& languages = names[name.name];
        for (const Entry& language : Directory(Subdirectory(name), "a name's directory")) {
          if (!language.name.text.empty()) throw BrandError("a resource language has a name");
          if (language.target & HIGH_BIT) {
            throw BrandError("the resource tree has more than three levels");
          }
          languages[language.name.id] = Data(language.target);
        }
      }
    }
    return tree;
  }

 private:
  struct Entry {
    ResourceName name;
    uint32_t target;  // high bit: a subdirectory
  };

  void Once(uint32_t offset, const char* item) {
    if (!seen_.insert(offset).second) {
      throw BrandError(std::string(item) + " at offset " + std::to_string(offset) +
                       " is reached twice in the resource tree");
    }
  }

  uint32_t Subdirectory(const Entry& entry) {
    if (!(entry.target & HIGH_BIT)) {
      throw BrandError("the resource tree has fewer than three levels");
    }
    return entry.target & ~HIGH_BIT;
  }

  std::vector<Entry> Directory(uint32_t offset, const char* item) {
    Once(offset, item);
    in_.Require(offset, 16, item);
    uint32_t count = uint32_t{in_.U16(offset + 12)} + in_.U16(offset + 14);
    in_.Require(offset + 16, 8 * uint64_t{count}, item);
    std::vector<Entry> entries;
    std::set<ResourceName> names;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t at = offset + 16 + 8 * uint64_t{i};
      uint32_t nameField = in_.U32(at);
      Entry entry{ResourceName(), in_.U32(at + 4)};
      if (nameField & HIGH_BIT) {
        entry.name.text = Name(nameField & ~HIGH_BIT);
      } else if (nameField > 0xFFFF) {
        throw BrandError("a resource entry has the number " + std::to_string(nameField) +
                         ", above 65535");
      } else {
        entry.name.id = static_cast<uint16_t>(nameField);
      }
      if (!names.insert(entry.name).second) {
        throw BrandError("a resource directory holds the same entry twice");
      }
      entries.push_back(entry);
    }
    return entries;
  }

  std::u16string Name(uint32_t offset) {
    uint16_t length = in_.U16(offset);
    if (length == 0) throw BrandError("a resource has an empty name");
    in_.Require(offset + 2, 2 * uint64_t{length}, "a resource name");
    std::u16string text;
    for (uint16_t i = 0; i < length; ++i)
      text += static_cast<char16_t>(in_.U16(offset + 2 + 2 * i));
    return text;
  }

  ResourceData Data(uint32_t offset) {
    Once(offset, "a resource data entry");
    in_.Require(offset, 16, "a resource data entry");
    uint32_t rva = in_.U32(offset);
    uint32_t size = in_.U32(offset + 4);
    if (rva < rva_ || !in_.Has(uint64_t{rva} - rva_, size)) {
      throw BrandError("a resource's bytes (" + std::to_string(size) + " at RVA " +
                       std::to_string(rva) + ") lie outside the resource directory");
    }
    // Every resource's bytes have a place of their own in a sound tree, so
    // together they cannot exceed it; this also bounds what is copied.
    dataBytes_ += size;
    if (dataBytes_ > in_.Size()) throw BrandError("the resources' bytes overlap");
    ResourceData data;
    data.bytes = in_.Copy(uint64_t{rva} - rva_, size, "a resource");
    data.codePage = in_.U32(offset + 8);
    return data;
  }

  ByteReader in_;
  uint32_t rva_;
  std::set<uint32_t> seen_;
  uint64_t dataBytes_ = 0;
};

// Where each part of the laid-out tree goes.
struct Plan {
  size_t directories = 0;  // bytes of all directory tables
  size_t dataEntries = 0;  // offset of the first data entry
  size_t strings = 0;      // offset of the first name string
  size_t data = 0;         // offset of the first resource's bytes
  size_t total = 0;
};

size_t StringBytes(const ResourceName& name) {
  return name.text.empty() ? 0 : 2 + 2 * name.text.size();
}

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

Plan MakePlan(const ResourceTree& tree) {
  Plan plan;
  size_t leaves = 0, strings = 0, data = 0;
  size_t types = 0, names = 0;
  for (const auto& type : tree) {
    size_t typeNames = 0;
    for (const auto& name : type.second) {
      if (name.second.empty()) continue;
      ++typeNames;
      strings += StringBytes(name.first);
      leaves += name.second.size();
      for (const auto& language : name.second) data += Align4(language.second.bytes.size());
    }
    if (typeNames == 0) continue;
    ++types;
    names += typeNames;
    strings += StringBytes(type.first);
  }
  // The root, one table per type and one per name; 16 bytes of header and
  // 8 per entry each.
  plan.directories = 16 * (1 + types + names) + 8 * (types + names + leaves);
  plan.dataEntries = plan.directories;
  plan.strings = plan.dataEntries + 16 * leaves;
  plan.data = Align4(plan.strings + strings);
  plan.total = plan.data + data;
  return plan;
}

}  // namespace

ResourceTree ReadResourceTree(const uint8_t* section, size_t size, uint32_t rva) {
  return TreeReader(section, size, rva).Read();
}

size_t ResourceTreeSize(const ResourceTree& tree) { return MakePlan(tree).total; }

std::vector<uint8_t> LayOutResourceTree(const ResourceTree& tree, uint32_t rva) {
  Plan plan = MakePlan(tree);
  if (plan.total > 0x7FFFFFFF - uint64_t{rva}) throw BrandError("the resources are too large");
  std::vector<uint8_t> out(plan.total, 0);
  size_t nextDirectory = 0, nextEntry = plan.dataEntries, nextString = plan.strings;
  size_t nextData = plan.data;

  // A directory table with room for its entries; returns the offset of its
  // first entry.
  auto table = [&](size_t named, size_t numbered) {
    if (named > 0xFFFF || numbered > 0xFFFF) {
      throw BrandError("a resource directory would hold more than 65535 entries");
    }
    size_t at = nextDirectory;
    PutU16(out, at + 12, static_cast<uint16_t>(named));
    PutU16(out, at + 14, static_cast<uint16_t>(numbered));
    nextDirectory += 16 + 8 * (named + numbered);
    return at + 16;
  };
  auto nameField = [&](const ResourceName& name) -> uint32_t {
    if (name.text.empty()) return name.id;
    size_t at = nextString;
    PutU16(out, at, static_cast<uint16_t>(name.text.size()));
    for (size_t i = 0; i < name.text.size(); ++i) PutU16(out, at + 2 + 2 * i, name.text[i]);
    nextString += StringBytes(name);
    return static_cast<uint32_t>(at) | HIGH_BIT;
  };
  auto counts = [](const auto& entries, auto keep) {
    size_t named = 0, numbered = 0;
    for (const auto& entry : entries) {
      if (!keep(entry.second)) continue;
      (entry.first.text.empty() ? numbered : named)++;
    }
    return std::make_pair(named, numbered);
  };
  auto nameKept = [](const ResourceLanguages& languages) { return !languages.empty(); };
  auto typeKept = [&](const ResourceNames& names) {
    for (const auto& name : names)
      if (nameKept(name.second)) return true;
    return false;
  };

  // Breadth first: the root, then every type's table, then every name's.
  auto rootCounts = counts(tree, typeKept);
  size_t rootEntry = table(rootCounts.first, rootCounts.second);
  std::vector<size_t> typeEntries;
  for (const auto& type : tree) {
    if (!typeKept(type.second)) continue;
    PutU32(out, rootEntry, nameField(type.first));
    PutU32(out, rootEntry + 4, static_cast<uint32_t>(nextDirectory) | HIGH_BIT);
    rootEntry += 8;
    auto c = counts(type.second, nameKept);
    typeEntries.push_back(table(c.first, c.second));
  }
  size_t typeIndex = 0;
  std::vector<std::pair<size_t, const ResourceLanguages*>> nameEntries;
  for (const auto& type : tree) {
    if (!typeKept(type.second)) continue;
    size_t typeEntry = typeEntries[typeIndex++];
    for (const auto& name : type.second) {
      if (!nameKept(name.second)) continue;
      PutU32(out, typeEntry, nameField(name.first));
      PutU32(out, typeEntry + 4, static_cast<uint32_t>(nextDirectory) | HIGH_BIT);
      typeEntry += 8;
      nameEntries.emplace_back(table(0, name.second.size()), &name.second);
    }
  }
  for (const auto& name : nameEntries) {
    size_t languageEntry = name.first;
    for (const auto& language : *name.second) {
      PutU32(out, languageEntry, language.first);
      PutU32(out, languageEntry + 4, static_cast<uint32_t>(nextEntry));
      languageEntry += 8;
      const std::vector<uint8_t>& bytes = language.second.bytes;
      PutU32(out, nextEntry, rva + static_cast<uint32_t>(nextData));
      PutU32(out, nextEntry + 4, static_cast<uint32_t>(bytes.size()));
      PutU32(out, nextEntry + 8, language.second.codePage);
      nextEntry += 16;
      std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<ptrdiff_t>(nextData));
      nextData += Align4(bytes.size());
    }
  }
  return out;
}

}  // namespace popbox
