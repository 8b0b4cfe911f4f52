#include "packer/setup_reader.h"

#include <errno.h>
#include <stdio.h>

#include "app/os_api.h"
#include "packer/host_file.h"
#include "packer/packer_error.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"

namespace popbox {

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

SetupReader::SetupReader(const std::string& path) : path_(path), offset_(PAYLOAD_OFFSET) {
  HostStat st = StatHost(path, true);
  if (st.kind == HostKind::Missing)
    throw PackerError(DescribeFailure(path, "cannot open", st.error));
  if (st.kind != HostKind::File)
    throw PackerError(DescribeFailure(path, "is not a regular file", 0));
  file_ = OpenHostFile(path);
  if (!file_) throw PackerError(DescribeFailure(path, "cannot open", errno));
  fileSize_ = st.size;

  // The reader opens "its own file" by path; this path reaches the very
  // file opened above, however long the caller's path is.
  ownPath_ = ReaderPathFor(file_, path);
  OverrideOwnPath(ownPath_.c_str());
  if (ownPath_.empty() || !OpenPayload()) {
    OverrideOwnPath(nullptr);
    fclose(file_);
    throw PackerError(DescribeFailure(path, "cannot open", 0));
  }
}

SetupReader::~SetupReader() {
  ClosePayload();
  OverrideOwnPath(nullptr);
  fclose(file_);
}

bool SetupReader::ReadAt(uint64_t offset, void* buffer, size_t size) const {
#ifdef _WIN32
  if (_fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
#else
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
  return fread(buffer, 1, size, file_) == size;
}

// Why the reader refused the record at offset_, judged from its header.
std::string SetupReader::WhyUnreadable() const {
  uint32_t index = index_;
  std::string where = "record " + std::to_string(index) + " at offset " + std::to_string(offset_);
  if (fileSize_ < PAYLOAD_OFFSET) return "is shorter than a stub; it is not a setup";
  if (offset_ == fileSize_) {
    return index == 1 ? "holds no payload behind the stub"
                      : "ends after record " + std::to_string(index - 1) + " without an end record";
  }
  uint8_t raw[BLOB_HEADER_SIZE];
  if (!ReadAt(offset_, raw, sizeof raw)) return where + ": the header is cut short";
  BlobHeader header = BlobHeader::Parse(raw);
  if (header.magic != BLOB_MAGIC) return where + ": no record header there";
  if (header.nameLength > MAX_NAME_LENGTH) {
    return where + ": its name is " + std::to_string(header.nameLength) + " bytes, more than " +
           std::to_string(MAX_NAME_LENGTH);
  }
  uint64_t end = offset_ + BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  if (end > fileSize_) return where + ": the file ends inside it";
  return where + ": its contents do not unpack to " + std::to_string(header.unpackedSize) +
         " bytes";
}

SetupRecord SetupReader::Next(bool keepContents) {
  ++index_;
  char name[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t unpackedSize = 0;
  uint32_t type = 0;
  if (!ReadNextBlob(name, &data, &unpackedSize, &type)) {
    throw PackerError(DescribeFailure(path_, WhyUnreadable(), 0));
  }
  SetupRecord record{index_, offset_, type, name, unpackedSize, 0, {}};
  if (keepContents) record.contents.assign(data, data + unpackedSize);
  ReleaseBlob(data);

  // The reader accepted this header, so it is whole and in the file.
  uint8_t raw[BLOB_HEADER_SIZE];
  if (!ReadAt(offset_, raw, sizeof raw)) {
    throw PackerError(DescribeFailure(path_, "cannot read", errno));
  }
  BlobHeader header = BlobHeader::Parse(raw);
  record.packedSize = header.packedSize;
  offset_ += BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  return record;
}

}  // namespace popbox
