#include "packer/branding/pe_image.h"

#include "packer/common/byte_io.h"

namespace popbox {

namespace {

bool IsPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

constexpr uint16_t PE32_MAGIC = 0x10B;
constexpr uint16_t PE32_PLUS_MAGIC = 0x20B;
constexpr uint16_t MAX_SECTIONS = 96;  // the most Windows loads

}  // namespace

size_t PeImage::HeaderOffset(const std::vector<uint8_t>& file) {
  ByteReader in(file.data(), file.size(), "the file");
  if (!in.Has(0, 64) || file[0] != 'M' || file[1] != 'Z') return 0;
  uint32_t pe = in.U32(0x3C);
  return in.Has(pe, 24) && in.U32(pe) == 0x00004550 ? pe : 0;
}

PeImage::PeImage(const std::vector<uint8_t>& file) {
  ByteReader in(file.data(), file.size(), "the file");
  if (!in.Has(0, 64) || file[0] != 'M' || file[1] != 'Z') {
    throw BrandError("is no Windows program (it does not start with an MZ header)");
  }
  const size_t pe = HeaderOffset(file);
  if (pe == 0) throw BrandError("is no Windows program (no PE header where the MZ header points)");
  uint16_t sectionCount = in.U16(pe + 6);
  uint16_t optionalSize = in.U16(pe + 20);
  optionalHeader_ = pe + 24;
  if (!in.Has(optionalHeader_, optionalSize) || optionalSize < 2) {
    throw BrandError("has a PE optional header that runs past the end of the file");
  }
  uint16_t magic = in.U16(optionalHeader_);
  size_t directoriesAt;  // offset of NumberOfRvaAndSizes within the optional header
  if (magic == PE32_MAGIC) {
    directoriesAt = 92;
  } else if (magic == PE32_PLUS_MAGIC) {
    directoriesAt = 108;
  } else {
    throw BrandError("has an unknown PE optional header (magic " + std::to_string(magic) + ")");
  }
  if (optionalSize < directoriesAt + 4) {
    throw BrandError("has a PE optional header too short for its fields");
  }
  sectionAlignment_ = in.U32(optionalHeader_ + 32);
  fileAlignment_ = in.U32(optionalHeader_ + 36);
  sizeOfImage_ = in.U32(optionalHeader_ + 56);
  uint32_t sizeOfHeaders = in.U32(optionalHeader_ + 60);
  if (!IsPowerOfTwo(fileAlignment_) || fileAlignment_ < 512 || fileAlignment_ > 65536 ||
      !IsPowerOfTwo(sectionAlignment_) || sectionAlignment_ < fileAlignment_) {
    throw BrandError("has invalid section or file alignment (" + std::to_string(sectionAlignment_) +
                     ", " + std::to_string(fileAlignment_) + ")");
  }
  directoryCount_ = in.U32(optionalHeader_ + directoriesAt);
  directories_ = optionalHeader_ + directoriesAt + 4;
  if (directoryCount_ > 16 ||
      directoriesAt + 4 + 8 * static_cast<uint64_t>(directoryCount_) > optionalSize) {
    throw BrandError("has a data directory that does not fit its optional header");
  }
  for (uint32_t i = 0; i < directoryCount_; ++i) {
    directoryEntries_.push_back({in.U32(directories_ + 8 * i), in.U32(directories_ + 8 * i + 4)});
  }

  if (sectionCount == 0 || sectionCount > MAX_SECTIONS) {
    throw BrandError("has " + std::to_string(sectionCount) + " sections");
  }
  uint64_t table = optionalHeader_ + optionalSize;
  uint64_t tableEnd = table + 40 * static_cast<uint64_t>(sectionCount);
  if (tableEnd > sizeOfHeaders || sizeOfHeaders > file.size()) {
    throw BrandError("has a section table that runs past its headers or the file");
  }
  for (uint16_t i = 0; i < sectionCount; ++i) {
    size_t at = static_cast<size_t>(table + 40 * static_cast<uint64_t>(i));
    PeSection s;
    for (size_t c = 0; c < 8 && file[at + c] != 0; ++c) s.name += static_cast<char>(file[at + c]);
    s.virtualSize = in.U32(at + 8);
    s.virtualAddress = in.U32(at + 12);
    s.rawSize = in.U32(at + 16);
    s.rawOffset = in.U32(at + 20);
    s.characteristics = in.U32(at + 36);
    s.headerOffset = at;
    if (s.rawSize != 0 && !in.Has(s.rawOffset, s.rawSize)) {
      throw BrandError("has a section (" + s.name + ") whose bytes run past the end of the file");
    }
    sections_.push_back(s);
  }
}

PeDirectory PeImage::Directory(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= directoryCount_) return {};
  return directoryEntries_[static_cast<size_t>(index)];
}

uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t fieldOffset) {
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); ++i) {
    uint32_t byte = i >= fieldOffset && i < fieldOffset + 4 ? 0 : file[i];
    // Odd offsets hold the high byte of a little-endian word.
    sum += (i & 1) ? byte << 8 : byte;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(file.size());
}

}  // namespace popbox
