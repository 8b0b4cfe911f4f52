#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packer/app_folder.h"
#include "packer/commands.h"
#include "packer/encoder.h"
#include "packer/host_file.h"
#include "packer/packer_error.h"
#include "packer/payload_writer.h"
#include "payload/payload_format.h"

namespace popbox {

namespace {

// The reader refuses an unpacked size of 0xFFFFFFFF (its plus-one
// overflows), so the largest file a setup can carry is one byte less.
constexpr uint64_t MAX_FILE_SIZE = 0xFFFFFFFEu;

std::vector<uint8_t> ReadStub(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    throw PackerError(DescribeFailure(path, "cannot read the stub", errno));
  }
  if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) != PAYLOAD_OFFSET) {
    throw PackerError(DescribeFailure(path,
                                      "is " + std::to_string(st.st_size) +
                                          " bytes; a stub must be exactly " +
                                          std::to_string(PAYLOAD_OFFSET) + " bytes",
                                      0));
  }
  std::vector<uint8_t> stub = ReadWholeFile(path, PAYLOAD_OFFSET);
  if (stub.size() != PAYLOAD_OFFSET) {
    throw PackerError(DescribeFailure(path, "changed size while being read", 0));
  }
  return stub;
}

// An existing output file is left out of the pack, so that packing a
// folder into a setup inside it does not swallow the previous setup.
FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.valid = true;
  }
  return id;
}

std::string Count(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

std::string DefaultStubPath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "popbox-stub.exe";
  std::string path(self, static_cast<size_t>(n));
  size_t slash = path.find_last_of('/');
  return path.substr(0, slash + 1) + "popbox-stub.exe";
}

void PackCommand(const PackOptions& options, std::ostream& report) {
  std::string stubPath = options.stub.empty() ? DefaultStubPath() : options.stub;
  std::vector<uint8_t> stub = ReadStub(stubPath);
  std::vector<AppEntry> entries = ListAppFolder(options.appFolder, IdentityOf(options.output));

  StagedFile out(options.output);
  out.Write(stub.data(), stub.size());
  PayloadWriter writer(out, EncodeGreedy);
  for (const AppEntry& entry : entries) {
    if (entry.type == BLOB_FOLDER) {
      writer.AddFolder(entry.recordName);
    } else {
      writer.AddFile(entry.recordName, ReadWholeFile(entry.hostPath, MAX_FILE_SIZE));
    }
  }
  writer.Finish();
  out.Commit();

  const PayloadTotals& totals = writer.Totals();
  report << options.output << ": " << Count(totals.files, "file") << ", "
         << Count(totals.folders, "folder") << ", " << totals.unpackedBytes
         << " bytes of contents stored in " << totals.storedBytes << ", " << out.BytesWritten()
         << " bytes in all\n";
}

}  // namespace popbox
