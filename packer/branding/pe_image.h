// The headers of a Windows program (PE32 or PE32+): its sections, its data
// directories and the header fields that branding rewrites, each checked
// against the file's size when read. Plus the PE checksum.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace popbox {

constexpr int PE_DIRECTORY_RESOURCE = 2;
constexpr int PE_DIRECTORY_SECURITY = 4;  // its "RVA" is a file offset

struct PeSection {
  std::string name;  // up to 8 characters
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
  uint32_t characteristics = 0;
  size_t headerOffset = 0;  // file offset of the 40-byte section header
};

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

class PeImage {
 public:
  // Reads and checks the headers; throws BrandError saying what is wrong.
  explicit PeImage(const std::vector<uint8_t>& file);

  // Where the PE header starts that the file's MZ header points to, or 0
  // when there is none: no MZ header, or no PE signature there inside the
  // file (the constructor's first two refusals).
  static size_t HeaderOffset(const std::vector<uint8_t>& file);

  const std::vector<PeSection>& Sections() const { return sections_; }
  // A data directory; {0, 0} when the header has fewer entries.
  PeDirectory Directory(int index) const;
  uint32_t SectionAlignment() const { return sectionAlignment_; }
  uint32_t FileAlignment() const { return fileAlignment_; }
  uint32_t SizeOfImage() const { return sizeOfImage_; }

  // File offsets of the fields that branding writes.
  size_t ChecksumOffset() const { return optionalHeader_ + 64; }
  size_t SizeOfImageOffset() const { return optionalHeader_ + 56; }
  // The directory's RVA field; its size field follows.
  size_t DirectoryOffset(int index) const { return directories_ + 8 * static_cast<size_t>(index); }
  // Within a section header.
  static constexpr size_t SECTION_VIRTUAL_SIZE = 8;

 private:
  std::vector<PeSection> sections_;
  size_t optionalHeader_ = 0;
  size_t directories_ = 0;
  uint32_t directoryCount_ = 0;
  std::vector<PeDirectory> directoryEntries_;
  uint32_t sectionAlignment_ = 0;
  uint32_t fileAlignment_ = 0;
  uint32_t sizeOfImage_ = 0;
};

// The PE checksum as Windows' CheckSumMappedFile computes it: the file as
// 16-bit words added with end-around carry, the checksum field itself
// counted as zero, plus the file's length.
uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t fieldOffset);

}  // namespace popbox
