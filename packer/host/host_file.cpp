// The parts of the file system layer that are the same on every platform.
#include "packer/host/host_file.h"

#include "packer/common/packer_error.h"

namespace popbox {

void RefuseSwappedFile(const std::string& path) {
  throw PackerError(DescribeFailure(
      path, "is no longer the file that check looked at (it was replaced meanwhile); pack again",
      0));
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize) {
  ByteBuffer bytes;
  ReadFileInto(path, maxSize, &bytes);
  return std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size());
}

}  // namespace popbox
