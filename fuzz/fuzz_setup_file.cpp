// The packer's verify and extract over arbitrary setup files. Input: eight
// bytes for the PE security directory (where a signature would be, so that
// the check of what follows the end record is reached), then the payload,
// behind the tests' stand-in for the stub (tests/support/small_stub.h) in a
// memory file.
//
// Either command may refuse the file but must not crash, leak or touch
// memory outside its buffers. Extract writes into a fresh folder, made only
// once the setup passed verify's layout checks: afterwards the scratch
// folder holds that folder alone, with plain files and folders in it, or
// nothing. A file that verify calls sound must also extract.
#include <ftw.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"
#include "packer/host/host_file.h"
#include "tests/support/small_stub.h"

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace {

// Counts what is not a plain file or folder.
int strange = 0;
int Look(const char*, const struct stat*, int kind, struct FTW*) {
  strange += kind != FTW_F && kind != FTW_D && kind != FTW_DP;
  return 0;
}
int Remove(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 16 * 1024 || fuzz::AsksForSlowBlock(data + 8, size - 8)) return 0;
  static int fd = -1;
  static std::string setup, scratch;
  if (fd < 0) {
    fd = memfd_create("popbox-fuzz-setup", 0);
    setup = "/proc/self/fd/" + std::to_string(fd);
    const char* given = getenv("POPBOX_FUZZ_SCRATCH");
    char pattern[] = "/tmp/popbox-fuzz-XXXXXX";
    scratch = given ? given : mkdtemp(pattern);
    const std::vector<uint8_t> image = test::SmallStub(8192);
    if (fd < 0 || pwrite(fd, image.data(), image.size(), 0) != ssize_t(image.size())) abort();
  }
  constexpr off_t SECURITY_DIRECTORY = test::DIRS + 4 * 8;
  if (ftruncate(fd, popbox::PAYLOAD_OFFSET) != 0 || pwrite(fd, data, 8, SECURITY_DIRECTORY) != 8 ||
      pwrite(fd, data + 8, size - 8, popbox::PAYLOAD_OFFSET) != ssize_t(size - 8)) {
    abort();
  }
  const popbox::CodePage& page = *popbox::FindCodePage(1252);
  std::ostringstream out;
  bool sound = false, extracted = false;
  try {
    sound = popbox::VerifyCommand(setup, page, out, out);
  } catch (const popbox::PackerError&) {
  }
  try {
    popbox::ExtractCommand(setup, scratch + "/out", page, out);
    extracted = true;
  } catch (const popbox::PackerError&) {
  }
  FUZZ_CHECK(!sound || extracted);
  std::vector<std::string> names;
  int error = 0;
  FUZZ_CHECK(popbox::ListHostFolder(scratch, &names, &error) && names.size() <= 1 &&
             (names.empty() ? !extracted : names[0] == "out"));
  strange = 0;
  nftw((scratch + "/out").c_str(), Look, 16, FTW_PHYS);
  FUZZ_CHECK(strange == 0);
  nftw((scratch + "/out").c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
