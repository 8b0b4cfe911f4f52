// The packer's verify and extract over arbitrary setup files.
//
// Input: eight bytes for the PE security directory (offset and length of a
// signature, so that the check of what follows the end record is reached),
// then the payload. The file is a small stub image (MZ, a PE header at 64,
// zeros up to PAYLOAD_OFFSET) followed by the payload, in a memory file.
//
// Both commands may refuse the file (PackerError) but must not crash, leak
// or touch memory outside their buffers. Extract writes into a fresh empty
// folder inside a scratch folder: afterwards the scratch folder holds that
// folder and nothing else, and nothing in it is a link to elsewhere. A file
// that verify calls sound must also extract. FUZZ_TRACE=1 prints what the
// commands said.
#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/host_file.h"
#include "packer/packer_error.h"
#include "payload/payload_format.h"

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace {

constexpr size_t MAX_INPUT = 16 * 1024;

// $POPBOX_FUZZ_SCRATCH (run.sh puts it on a memory file system, since
// extraction writes files on every run), else a new folder in /tmp.
std::string ScratchFolder() {
  static std::string scratch;
  if (scratch.empty()) {
    const char* given = getenv("POPBOX_FUZZ_SCRATCH");
    char pattern[] = "/tmp/popbox-fuzz-setup-XXXXXX";
    scratch = given ? given : mkdtemp(pattern) ? pattern : "";
    if (scratch.empty()) abort();
  }
  return scratch;
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

// Every entry below `folder` is a plain file or folder.
bool OnlyFilesAndFolders(const std::string& folder) {
  std::vector<std::string> names;
  int error = 0;
  if (!popbox::ListHostFolder(folder, &names, &error)) return false;
  for (const std::string& name : names) {
    popbox::HostStat st = popbox::StatHost(folder + "/" + name, false);
    if (st.kind == popbox::HostKind::Folder) {
      if (!OnlyFilesAndFolders(folder + "/" + name)) return false;
    } else if (st.kind != popbox::HostKind::File) {
      return false;
    }
  }
  return true;
}

// The stub image is written once; each input replaces what follows it and
// the security directory.
std::string SetupFile(const uint8_t* data, size_t size) {
  static int fd = -1;
  static std::string path;
  constexpr off_t SECURITY_DIRECTORY = 64 + 24 + 96 + 4 * 8;
  if (fd < 0) {
    fd = memfd_create("popbox-fuzz-setup", 0);
    if (fd < 0) abort();
    path = "/proc/self/fd/" + std::to_string(fd);
    uint8_t image[popbox::PAYLOAD_OFFSET] = {'M', 'Z'};
    image[0x3C] = 64;                 // the PE header's offset
    memcpy(image + 64, "PE\0\0", 4);  // signature
    image[64 + 24] = 0x0B;            // optional header magic 0x10B
    image[64 + 25] = 0x01;
    if (pwrite(fd, image, sizeof image, 0) != sizeof image) abort();
  }
  if (ftruncate(fd, popbox::PAYLOAD_OFFSET) != 0 || pwrite(fd, data, 8, SECURITY_DIRECTORY) != 8) {
    abort();
  }
  if (size > 8 &&
      pwrite(fd, data + 8, size - 8, popbox::PAYLOAD_OFFSET) != static_cast<ssize_t>(size - 8)) {
    abort();
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > MAX_INPUT || fuzz::AsksForSlowBlock(data + 8, size - 8)) return 0;
  std::string setup = SetupFile(data, size);
  const popbox::CodePage& page = *popbox::FindCodePage(1252);

  bool sound = false;
  std::ostringstream report, diagnostics;
  try {
    sound = popbox::VerifyCommand(setup, page, report, diagnostics);
  } catch (const popbox::PackerError& e) {
    diagnostics << e.what();
  }

  std::string scratch = ScratchFolder();
  std::string target = scratch + "/out";
  bool extracted = false;
  try {
    popbox::ExtractCommand(setup, target, page, report);
    extracted = true;
  } catch (const popbox::PackerError& e) {
    report << e.what();
  }
  if (getenv("FUZZ_TRACE")) {
    fprintf(stderr, "verify: %s%s\nextract: %s\n", report.str().c_str(), diagnostics.str().c_str(),
            extracted ? "written" : "refused");
  }
  FUZZ_CHECK(!sound || extracted);

  std::vector<std::string> names;
  int error = 0;
  FUZZ_CHECK(popbox::ListHostFolder(scratch, &names, &error));
  FUZZ_CHECK(names.size() == 1 && names[0] == "out");
  FUZZ_CHECK(OnlyFilesAndFolders(target));
  RemoveTree(target);
  return 0;
}
