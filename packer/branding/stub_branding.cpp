#include "packer/branding/stub_branding.h"

#include <algorithm>
#include <set>

#include "packer/branding/icon_file.h"
#include "packer/branding/pe_image.h"
#include "packer/branding/resource_tree.h"
#include "packer/common/byte_io.h"
#include "packer/common/packer_error.h"

namespace popbox {

namespace {

// The stub's room: the bytes of its last section, which holds the
// resources and runs to the end of the stub, and how many of them the
// resources use now.
struct ResourceRoom {
  size_t offset = 0;  // file offset of the resource section
  size_t size = 0;    // bytes from there to the end of the stub
  size_t used = 0;    // size of the resource tree in it
};

struct Located {
  const PeSection* section = nullptr;
  ResourceRoom room;
};

Located Locate(const PeImage& pe, size_t stubSize) {
  PeDirectory resources = pe.Directory(PE_DIRECTORY_RESOURCE);
  if (resources.rva == 0 || resources.size == 0) throw BrandError("has no resources");
  Located found;
  for (const PeSection& s : pe.Sections()) {
    if (s.virtualAddress == resources.rva) found.section = &s;
  }
  if (!found.section) throw BrandError("has resources that do not start a section");
  const PeSection& rsrc = *found.section;
  const uint64_t roomEnd = uint64_t{rsrc.rawOffset} + rsrc.rawSize;
  for (const PeSection& s : pe.Sections()) {
    if (&s == &rsrc) continue;
    if (s.virtualAddress >= rsrc.virtualAddress ||
        (s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize > rsrc.rawOffset)) {
      throw BrandError("has its resources in a section that is not its last (" + s.name +
                       " follows); the stub must be built with its resources last");
    }
  }
  if (rsrc.rawSize == 0 || roomEnd != stubSize) {
    throw BrandError("has no room reserved for resources: its resource section ends at byte " +
                     std::to_string(roomEnd) + ", not at the end of the stub (byte " +
                     std::to_string(stubSize) + ")");
  }
  if (rsrc.rawOffset % pe.FileAlignment() != 0) {
    throw BrandError("has a resource section that is not aligned in the file");
  }
  if (resources.size > rsrc.rawSize) {
    throw BrandError("has a resource directory of " + std::to_string(resources.size) +
                     " bytes in a section of " + std::to_string(rsrc.rawSize));
  }
  // Nothing else the loader reads may lie in the bytes about to be rewritten.
  for (int i = 0; i < 16; ++i) {
    PeDirectory d = pe.Directory(i);
    if (i == PE_DIRECTORY_RESOURCE || i == PE_DIRECTORY_SECURITY || d.size == 0) continue;
    if (uint64_t{d.rva} + d.size > rsrc.virtualAddress &&
        d.rva < uint64_t{rsrc.virtualAddress} + rsrc.rawSize) {
      throw BrandError("has data directory " + std::to_string(i) + " inside its resource section");
    }
  }
  found.room.offset = rsrc.rawOffset;
  found.room.size = rsrc.rawSize;
  found.room.used = resources.size;
  return found;
}

// Removes the icon images that group STUB_ICON_GROUP lists; returns the group's
// language.
uint16_t TakeOutGroupImages(ResourceTree& tree) {
  auto groups = tree.find(ResourceName::Id(RT_GROUP_ICON_ID));
  if (groups == tree.end() ||
      groups->second.find(ResourceName::Id(STUB_ICON_GROUP)) == groups->second.end()) {
    throw BrandError("has no icon group " + std::to_string(STUB_ICON_GROUP));
  }
  if (groups->second.size() != 1) {
    throw BrandError("has icon groups besides " + std::to_string(STUB_ICON_GROUP) +
                     "; the file would not show the dialog's icon");
  }
  const ResourceLanguages& languages = groups->second.begin()->second;
  if (languages.size() != 1) {
    throw BrandError("has icon group " + std::to_string(STUB_ICON_GROUP) + " in " +
                     std::to_string(languages.size()) + " languages");
  }
  uint16_t language = languages.begin()->first;
  std::vector<uint16_t> ids = IconGroupIds(languages.begin()->second.bytes);
  auto icons = tree.find(ResourceName::Id(RT_ICON_ID));
  for (uint16_t id : ids) {
    if (icons == tree.end()) break;
    auto name = icons->second.find(ResourceName::Id(id));
    if (name == icons->second.end()) continue;
    name->second.erase(language);
    if (name->second.empty()) icons->second.erase(name);
  }
  return language;
}

std::string Bytes(size_t n) { return std::to_string(n) + " bytes"; }

}  // namespace

PeImage CheckStub(const std::vector<uint8_t>& stub) {
  PeImage pe(stub);
  PeDirectory certificates = pe.Directory(PE_DIRECTORY_SECURITY);
  if (certificates.rva != 0 || certificates.size != 0) {
    throw BrandError(
        "is signed (it has a certificate table); use the unsigned stub and sign the setup after "
        "packing");
  }
  return pe;
}

BrandedStub BrandStub(const std::vector<uint8_t>& stub, const std::string& stubPath,
                      const BrandOptions& options) {
  BrandedStub result;
  if (!options.Any()) {
    result.image = stub;
    return result;
  }
  auto failure = [](const std::string& subject, const BrandError& e) {
    return BrandError(subject + ": error: " + e.what());
  };

  // The options and the icon first: they do not depend on the stub.
  std::vector<uint8_t> version;
  if (options.version.Any()) {
    try {
      version =
          BuildVersionResource(ResolveVersionValues(options.version, options.versionDefaults));
    } catch (const BrandError& e) {
      throw failure("popbox", e);
    }
  }
  std::vector<IconImage> images;
  if (!options.iconPath.empty()) {
    try {
      images = ReadIconFile(options.iconFile);
    } catch (const BrandError& e) {
      throw failure(options.iconPath, e);
    }
  }

  ResourceTree tree;
  uint16_t iconLanguage = 0;
  ResourceRoom room;
  uint32_t rva = 0;
  std::vector<uint8_t> image = stub;
  size_t sectionHeader = 0;
  uint32_t sectionAlignment = 0;
  size_t sizeOfImageField = 0, directoryField = 0, checksumField = 0;
  try {
    PeImage pe = CheckStub(stub);
    Located located = Locate(pe, stub.size());
    room = located.room;
    rva = located.section->virtualAddress;
    sectionHeader = located.section->headerOffset;
    sectionAlignment = pe.SectionAlignment();
    sizeOfImageField = pe.SizeOfImageOffset();
    directoryField = pe.DirectoryOffset(PE_DIRECTORY_RESOURCE);
    checksumField = pe.ChecksumOffset();
    tree = ReadResourceTree(stub.data() + room.offset, room.used, rva);
    if (!images.empty()) iconLanguage = TakeOutGroupImages(tree);
  } catch (const BrandError& e) {
    throw failure(stubPath, e);
  }

  if (!version.empty()) {
    tree.erase(ResourceName::Id(RT_VERSION_ID));
    tree[ResourceName::Id(RT_VERSION_ID)][ResourceName::Id(1)][VERSION_LANGUAGE] = {version, 0};
  }

  if (!images.empty()) {
    // The new images take the lowest ids no other icon uses.
    std::set<uint16_t> used;
    for (const auto& name : tree[ResourceName::Id(RT_ICON_ID)]) {
      if (name.first.text.empty()) used.insert(name.first.id);
    }
    auto withImages = [&](const std::vector<size_t>& chosen) {
      ResourceTree t = tree;
      std::vector<const IconImage*> listed;
      std::vector<uint16_t> ids;
      uint16_t id = 1;
      for (size_t index : chosen) {
        while (used.count(id)) ++id;
        listed.push_back(&images[index]);
        ids.push_back(id);
        t[ResourceName::Id(RT_ICON_ID)][ResourceName::Id(id)][iconLanguage] = {images[index].bytes,
                                                                               0};
        ++id;
      }
      t[ResourceName::Id(RT_GROUP_ICON_ID)][ResourceName::Id(STUB_ICON_GROUP)][iconLanguage] = {
          MakeIconGroup(listed, ids), 0};
      return t;
    };
    auto fits = [&](const std::vector<size_t>& chosen) {
      for (size_t index : chosen) {
        if (images[index].bytes.size() > room.size) return false;
      }
      return ResourceTreeSize(withImages(chosen)) <= room.size;
    };
    std::vector<size_t> chosen = ChooseIconImages(
        images, fits, "it does not fit the stub's room for resources (" + Bytes(room.size) + ")",
        &result.notes);
    if (chosen.empty()) {
      size_t smallest = 0;
      for (size_t i = 1; i < images.size(); ++i) {
        if (images[i].bytes.size() < images[smallest].bytes.size()) smallest = i;
      }
      size_t others = ResourceTreeSize(withImages({}));
      size_t needed = ResourceTreeSize(withImages({smallest}));
      throw BrandError(options.iconPath +
                       ": error: no image fits the stub's room for resources: " + Bytes(room.size) +
                       ", of which the stub's other resources take " + Bytes(others) +
                       "; the smallest image, " + DescribeIconImage(images[smallest]) + ", needs " +
                       Bytes(needed - room.size) + " more");
    }
    tree = withImages(chosen);
  }

  std::vector<uint8_t> laid = LayOutResourceTree(tree, rva);
  if (laid.size() > room.size) {
    throw BrandError(stubPath + ": error: the resources with the version information take " +
                     Bytes(laid.size()) + "; the stub has room for " + Bytes(room.size));
  }
  std::copy(laid.begin(), laid.end(), image.begin() + static_cast<ptrdiff_t>(room.offset));
  std::fill(image.begin() + static_cast<ptrdiff_t>(room.offset + laid.size()),
            image.begin() + static_cast<ptrdiff_t>(room.offset + room.size), 0);
  uint32_t treeSize = static_cast<uint32_t>(laid.size());
  PutU32(image, sectionHeader + PeImage::SECTION_VIRTUAL_SIZE, treeSize);
  PutU32(image, directoryField + 4, treeSize);
  PutU32(image, sizeOfImageField,
         static_cast<uint32_t>(AlignUp(uint64_t{rva} + treeSize, sectionAlignment)));
  PutU32(image, checksumField, ComputePeChecksum(image, checksumField));
  result.image = std::move(image);
  return result;
}

}  // namespace popbox
