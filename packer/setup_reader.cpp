#include "packer/setup_reader.h"

#include "packer/common/packer_error.h"

namespace popbox {

const std::string NOT_A_SETUP = "is not a popbox setup: it holds no payload behind a stub of " +
                                std::to_string(PAYLOAD_OFFSET) + " bytes";

std::string RecordTypeName(uint32_t type) {
  switch (type) {
    case BLOB_END:
      return "END";
    case BLOB_FOLDER:
      return "FOLDER";
    case BLOB_FILE:
      return "FILE";
    default:
      return std::to_string(type);
  }
}

SetupReader::SetupReader(const std::string& path)
    : path_(path), file_(path), payload_(file_.Handle()), offset_(PAYLOAD_OFFSET) {
  fileSize_ = file_.Size();
  if (!payload_.OpenPayload()) throw PackerError(DescribeFailure(path, "cannot read", 0));
}

bool SetupReader::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  return file_.ReadAt(offset, buffer, size);
}

// Why the reader refused the record at offset_, in the author's words.
std::string SetupReader::WhyUnreadable() const {
  std::string where = "record " + std::to_string(index_) + " at offset " + std::to_string(offset_);
  const ReadFailure failure = payload_.LastFailure();
  const BlobHeader& header = payload_.LastHeader();
  if (fileSize_ < PAYLOAD_OFFSET ||
      (index_ == 1 && (failure == ReadFailure::NoMagic || offset_ == fileSize_))) {
    return NOT_A_SETUP;
  }
  if (failure == ReadFailure::HeaderCutShort) {
    if (offset_ != fileSize_) return where + ": the header is cut short";
    return "ends after record " + std::to_string(index_ - 1) + " without an end record";
  }
  if (failure == ReadFailure::NoMagic) return where + ": no record header there";
  if (failure == ReadFailure::NameTooLong) {
    return where + ": its name is " + std::to_string(header.nameLength) + " bytes, more than " +
           std::to_string(MAX_NAME_LENGTH);
  }
  uint64_t end = offset_ + BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  if (failure == ReadFailure::NameCutShort || end > fileSize_) {
    return where + ": the file ends inside it";
  }
  if (failure == ReadFailure::OutOfMemory) return where + ": not enough memory to read it";
  return where + ": its contents do not unpack to " + std::to_string(header.unpackedSize) +
         " bytes";
}

SetupRecord SetupReader::Next(bool keepContents) {
  ++index_;
  char name[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t unpackedSize = 0;
  uint32_t type = 0;
  if (!payload_.ReadNextBlob(name, &data, &unpackedSize, &type)) {
    throw PackerError(DescribeFailure(path_, WhyUnreadable(), 0));
  }
  const BlobHeader& header = payload_.LastHeader();
  SetupRecord record{index_,       offset_,           type, name, header.nameLength,
                     unpackedSize, header.packedSize, {}};
  if (keepContents) record.contents.assign(data, data + unpackedSize);
  ReleaseBlob(data);
  offset_ += BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  return record;
}

}  // namespace popbox
