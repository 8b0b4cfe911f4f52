// popbox list. The records are read twice in step: once by the stub's own
// reader, which proves that each record decodes as the stub will decode it,
// and once header by header with pread, for the packed sizes (the reader
// does not hand them out) and for a precise message when a read fails.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/os_api.h"
#include "packer/commands.h"
#include "packer/packer_error.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"

namespace popbox {

namespace {

// Ends the reader, its path override and the descriptor on every path.
struct ListSession {
  int fd = -1;
  ~ListSession() {
    ClosePayload();
    OverrideOwnPath(nullptr);
    if (fd >= 0) close(fd);
  }
};

std::string TypeName(uint32_t type) {
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

// Why the reader refused the record at `offset`, judged from its header.
std::string WhyUnreadable(int fd, uint64_t fileSize, uint64_t offset, uint32_t index) {
  std::string where = "record " + std::to_string(index) + " at offset " + std::to_string(offset);
  if (fileSize < PAYLOAD_OFFSET) return "is shorter than a stub; it is not a setup";
  if (offset == fileSize) {
    return index == 1 ? "holds no payload behind the stub"
                      : "ends after record " + std::to_string(index - 1) + " without an end record";
  }
  uint8_t raw[BLOB_HEADER_SIZE];
  if (pread(fd, raw, sizeof raw, static_cast<off_t>(offset)) != static_cast<ssize_t>(sizeof raw)) {
    return where + ": the header is cut short";
  }
  BlobHeader header = BlobHeader::Parse(raw);
  if (header.magic != BLOB_MAGIC) return where + ": no record header there";
  if (header.nameLength > MAX_NAME_LENGTH) {
    return where + ": its name is " + std::to_string(header.nameLength) + " bytes, more than " +
           std::to_string(MAX_NAME_LENGTH);
  }
  uint64_t end = offset + BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  if (end > fileSize) return where + ": the file ends inside it";
  return where + ": its contents do not unpack to " + std::to_string(header.unpackedSize) +
         " bytes";
}

}  // namespace

void ListCommand(const std::string& setupPath, std::ostream& out) {
  ListSession session;
  session.fd = open(setupPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (session.fd < 0) throw PackerError(DescribeFailure(setupPath, "cannot open", errno));
  struct stat st;
  if (fstat(session.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    throw PackerError(DescribeFailure(setupPath, "is not a regular file", 0));
  }
  uint64_t fileSize = static_cast<uint64_t>(st.st_size);

  // The reader opens "its own file" by path; this short path reaches the
  // very file opened above, however long the caller's path is.
  std::string ownPath = "/proc/self/fd/" + std::to_string(session.fd);
  OverrideOwnPath(ownPath.c_str());
  if (!OpenPayload()) throw PackerError(DescribeFailure(setupPath, "cannot open", 0));

  uint64_t offset = PAYLOAD_OFFSET;
  for (uint32_t index = 1;; ++index) {
    char name[NAME_BUFFER_SIZE];
    uint8_t* contents = nullptr;
    uint32_t unpackedSize = 0;
    uint32_t type = 0;
    if (!ReadNextBlob(name, &contents, &unpackedSize, &type)) {
      throw PackerError(
          DescribeFailure(setupPath, WhyUnreadable(session.fd, fileSize, offset, index), 0));
    }
    ReleaseBlob(contents);

    // The reader accepted this header, so it is whole and in the file.
    uint8_t raw[BLOB_HEADER_SIZE];
    if (pread(session.fd, raw, sizeof raw, static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(sizeof raw)) {
      throw PackerError(DescribeFailure(setupPath, "cannot read", errno));
    }
    BlobHeader header = BlobHeader::Parse(raw);
    char line[64];
    snprintf(line, sizeof line, "%-6s %10u %10u", TypeName(type).c_str(), unpackedSize,
             header.packedSize);
    out << line << (name[0] ? " " : "") << name << '\n';
    if (type == BLOB_END) return;
    offset += BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
  }
}

}  // namespace popbox
