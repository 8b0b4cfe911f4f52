// The parts of the file system layer that are the same on every platform.
#include "packer/host/host_file.h"

#include <cerrno>
#include <cstdio>

#include "packer/common/packer_error.h"

namespace popbox {

void RefuseSwappedFile(const std::string& path) {
  throw PackerError(DescribeFailure(
      path, "is no longer the file that check looked at (it was replaced meanwhile); pack again",
      0));
}

// Plain stdio on every platform; the two backends differ only in how the
// file is made, flushed and renamed.
void StagedFile::Write(const void* data, size_t size) {
  if (size != 0 && fwrite(data, 1, size, file_) != size) {
    throw PackerError(DescribeFailure(finalPath_, "cannot write", errno));
  }
  written_ += size;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t maxSize) {
  ByteBuffer bytes;
  ReadFileInto(path, maxSize, &bytes);
  return std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size());
}

}  // namespace popbox
