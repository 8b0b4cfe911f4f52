// Little-endian reads and writes over byte buffers, for the code that reads
// and rewrites the stub's headers and resources and reads icon files. The
// bytes come from files the user names (--stub, --icon), so every read is
// checked against the end of the buffer, in 64-bit arithmetic: an offset
// taken from the file can never reach outside it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/little_endian.h"
#include "packer/common/packer_error.h"

namespace popbox {

class ByteReader {
 public:
  // `what` names the bytes in messages ("the icon file", "the resources").
  ByteReader(const uint8_t* data, size_t size, const char* what)
      : data_(data), size_(size), what_(what) {}

  size_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }

  // True when [offset, offset + length) lies inside the buffer.
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  // Throws BrandError unless Has(offset, length); `item` names what was
  // to be read there.
  void Require(uint64_t offset, uint64_t length, const char* item) const {
    if (!Has(offset, length)) {
      throw BrandError(std::string(item) + " at offset " + std::to_string(offset) + " (" +
                       std::to_string(length) + " bytes) runs past the end of " + what_ + " (" +
                       std::to_string(size_) + " bytes)");
    }
  }

  uint8_t U8(uint64_t offset) const {
    Require(offset, 1, "a byte");
    return data_[offset];
  }
  uint16_t U16(uint64_t offset) const {
    Require(offset, 2, "a 16-bit field");
    return Load16(data_ + offset);
  }
  uint32_t U32(uint64_t offset) const {
    Require(offset, 4, "a 32-bit field");
    return Load32(data_ + offset);
  }
  // Big-endian, for PNG headers.
  uint32_t U32BigEndian(uint64_t offset) const {
    Require(offset, 4, "a 32-bit field");
    return static_cast<uint32_t>(data_[offset]) << 24 |
           static_cast<uint32_t>(data_[offset + 1]) << 16 |
           static_cast<uint32_t>(data_[offset + 2]) << 8 | static_cast<uint32_t>(data_[offset + 3]);
  }
  std::vector<uint8_t> Copy(uint64_t offset, uint64_t length, const char* item) const {
    Require(offset, length, item);
    return std::vector<uint8_t>(data_ + offset, data_ + offset + length);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  const char* what_;
};

// Writes into bytes that the caller has already sized.
inline void PutU16(std::vector<uint8_t>& out, size_t offset, uint16_t value) {
  out.at(offset + 1);  // throws std::out_of_range on a caller's fault
  Store16(&out[offset], value);
}
inline void PutU32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  out.at(offset + 3);
  Store32(&out[offset], value);
}

inline void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
// Zero bytes up to the next multiple of `alignment` (a power of two).
inline void PadTo(std::vector<uint8_t>& out, size_t alignment) {
  out.resize((out.size() + alignment - 1) & ~(alignment - 1), 0);
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace popbox
