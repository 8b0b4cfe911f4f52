// The payload reader walking arbitrary file contents, placed behind a stub
// of zero bytes in a memory file that thePayload reads as its own.
//
// Every record read whole comes with a name of its stated length and
// contents followed by a zero byte; a failed read hands out nothing; the
// walk ends. LoadFromPayload("Setup.ini") then loads exactly the first
// file record of that name that the same walk meets, or fails when the walk
// ends first, and leaves the reader closed. LeakSanitizer sees any buffer a
// path forgets to release.
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "base/error_slot.h"
#include "base/text.h"
#include "fuzz/fuzz_support.h"
#include "payload/payload_stream.h"
#include "script/script_document.h"

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024 || fuzz::AsksForSlowBlock(data, size)) return 0;
  static int fd = memfd_create("popbox-fuzz-payload", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 || ftruncate(fd, popbox::PAYLOAD_OFFSET) != 0 ||
      pwrite(fd, data, size, popbox::PAYLOAD_OFFSET) != ssize_t(size)) {
    abort();
  }
  popbox::thePayload = popbox::PayloadStream(fd);

  // The heap name buffer of exactly NAME_BUFFER_SIZE bytes, as every caller's.
  char* name = static_cast<char*>(malloc(popbox::NAME_BUFFER_SIZE));
  bool found = false;
  std::string script;
  FUZZ_CHECK(popbox::thePayload.OpenPayload());
  for (size_t count = 0;; ++count) {
    uint8_t* contents = nullptr;
    uint32_t unpacked = 0, type = 0;
    if (!popbox::thePayload.ReadNextBlob(name, &contents, &unpacked, &type)) {
      FUZZ_CHECK(contents == nullptr);
      break;
    }
    const popbox::BlobHeader& header = popbox::thePayload.LastHeader();
    FUZZ_CHECK(unpacked == header.unpackedSize && type == header.type && contents[unpacked] == 0);
    FUZZ_CHECK(header.nameLength <= popbox::MAX_NAME_LENGTH && name[header.nameLength] == 0);
    if (!found && type == popbox::BLOB_FILE && popbox::EqualTextNoCase(name, "Setup.ini")) {
      found = true;
      script.assign(reinterpret_cast<char*>(contents), unpacked);
    }
    popbox::ReleaseBlob(contents);
    if (type == popbox::BLOB_END) break;
    FUZZ_CHECK(count < size);  // every record takes 13 bytes at least
  }
  popbox::thePayload.ClosePayload();
  free(name);

  popbox::ClearError();
  popbox::ScriptDocument document;
  FUZZ_CHECK(document.LoadFromPayload("Setup.ini") == found);
  FUZZ_CHECK(std::string(document.Text() ? document.Text() : "", document.Length()) == script);
  FUZZ_CHECK(found != popbox::HasError());
  char spare[popbox::NAME_BUFFER_SIZE];
  uint8_t* none = nullptr;
  uint32_t ignored;
  FUZZ_CHECK(!popbox::thePayload.ReadNextBlob(spare, &none, &ignored, &ignored) && none == nullptr);
  return 0;
}
