// The parts of the file system layer that are the same on every platform.
#include "packer/host_file.h"

namespace popbox {

uint8_t* FileBytes::Resize(size_t size) {
  if (size > capacity_) {
    bytes_.reset();  // the old bytes are not kept: let their memory go first
    bytes_ = AllocateBytes(size);
    capacity_ = size;
  }
  size_ = size;
  return bytes_.get();
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize) {
  FileBytes bytes;
  ReadFileInto(path, maxSize, &bytes);
  return std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size());
}

}  // namespace popbox
