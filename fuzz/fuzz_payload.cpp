// The payload reader walking arbitrary file contents.
//
// The input is placed behind PAYLOAD_OFFSET zero bytes in a memory file,
// which thePayload reads as "its own file". The walk
// (OpenPayload, ReadNextBlob until false or BLOB_END, ClosePayload) must
// agree with a plain reference parser of the record format: the same
// records with the same names, types and contents, and a failure at the
// same record. Then LoadFromPayload("Setup.ini") must load exactly the
// first file record of that name, or fail when the walk meets none.
//
// The name buffer is a heap block of exactly NAME_BUFFER_SIZE bytes.
// LeakSanitizer sees any buffer that a path forgets to release.
//
// Inputs that ask for a block in the slow band are passed over (see
// fuzz_support.h).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/error_slot.h"
#include "base/text.h"
#include "fuzz/fuzz_support.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"
#include "platform/os_api.h"
#include "script/script_document.h"

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace {

constexpr size_t MAX_INPUT = 16 * 1024;  // every record that fits decodes to below 1 MiB

struct Record {
  std::string name;  // the raw name bytes
  uint32_t type;
  std::vector<uint8_t> contents;
};

struct Walk {
  std::vector<Record> records;  // up to and including the end record
  bool failed = false;          // the walk stopped on a record it could not read
  bool slow = false;            // the reader would ask for a block in the slow band
};

uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The record format, read straight from the input bytes.
Walk ReferenceWalk(const uint8_t* data, size_t size) {
  Walk walk;
  size_t at = 0;
  for (;;) {
    if (size - at < popbox::BLOB_HEADER_SIZE) break;
    const uint8_t* h = data + at;
    uint32_t magic = static_cast<uint32_t>(h[0] | (h[1] << 8));
    uint32_t nameLength = static_cast<uint32_t>(h[2] | (h[3] << 8));
    uint32_t unpackedSize = Load32(h + 4);
    uint32_t packedSize = Load32(h + 8);
    Record record{std::string(), h[12], {}};
    at += popbox::BLOB_HEADER_SIZE;
    if (magic != popbox::BLOB_MAGIC || nameLength > popbox::MAX_NAME_LENGTH) break;
    if (size - at < nameLength) break;
    if (fuzz::InSlowBand(packedSize) || fuzz::InSlowBand(unpackedSize)) walk.slow = true;
    record.name.assign(reinterpret_cast<const char*>(data + at), nameLength);
    at += nameLength;
    if (size - at < packedSize) break;
    const uint8_t* packed = data + at;
    at += packedSize;
    if (packedSize == unpackedSize) {
      record.contents.assign(packed, packed + packedSize);
    } else {
      reference::Decoded d = reference::Decode(packed, packedSize, unpackedSize);
      if (!d.ok || d.out.size() != unpackedSize) break;
      record.contents = std::move(d.out);
    }
    walk.records.push_back(std::move(record));
    if (walk.records.back().type == popbox::BLOB_END) return walk;
  }
  walk.failed = true;
  return walk;
}

int MemoryFile() {
  static int fd = -1;
  if (fd < 0) {
    fd = memfd_create("popbox-fuzz-payload", 0);
    if (fd < 0) abort();
    popbox::thePayload = popbox::PayloadStream(fd);
  }
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > MAX_INPUT) return 0;
  Walk expected = ReferenceWalk(data, size);
  if (expected.slow) return 0;

  int fd = MemoryFile();
  // Truncating to zero and writing at the offset leaves the stub image as
  // a hole of zero bytes.
  if (ftruncate(fd, 0) != 0) abort();
  if (size && pwrite(fd, data, size, popbox::PAYLOAD_OFFSET) != static_cast<ssize_t>(size)) {
    abort();
  }
  if (!size && ftruncate(fd, popbox::PAYLOAD_OFFSET) != 0) abort();

  char* name = static_cast<char*>(malloc(popbox::NAME_BUFFER_SIZE));
  FUZZ_CHECK(popbox::thePayload.OpenPayload());
  size_t count = 0;
  bool failed = false;
  for (;;) {
    uint8_t* contents = nullptr;
    uint32_t unpackedSize = 0;
    uint32_t type = 0;
    if (!popbox::thePayload.ReadNextBlob(name, &contents, &unpackedSize, &type)) {
      FUZZ_CHECK(contents == nullptr);
      failed = true;
      break;
    }
    FUZZ_CHECK(count < expected.records.size());
    const Record& record = expected.records[count++];
    FUZZ_CHECK(memcmp(name, record.name.data(), record.name.size()) == 0);
    FUZZ_CHECK(name[record.name.size()] == 0);
    FUZZ_CHECK(type == record.type);
    FUZZ_CHECK(unpackedSize == record.contents.size());
    FUZZ_CHECK(contents[unpackedSize] == 0);  // also proves the block is long enough
    FUZZ_CHECK(unpackedSize == 0 || memcmp(contents, record.contents.data(), unpackedSize) == 0);
    popbox::ReleaseBlob(contents);
    if (type == popbox::BLOB_END) break;
  }
  popbox::thePayload.ClosePayload();
  FUZZ_CHECK(failed == expected.failed);
  FUZZ_CHECK(count == expected.records.size());
  free(name);

  // The script load walks the same records with its own loop.
  const Record* script = nullptr;
  for (const Record& record : expected.records) {
    if (record.type == popbox::BLOB_FILE &&
        popbox::EqualTextNoCase(record.name.c_str(), "Setup.ini")) {
      script = &record;
      break;
    }
  }
  popbox::ClearError();
  popbox::ScriptDocument document;
  bool loaded = document.LoadFromPayload("Setup.ini");
  FUZZ_CHECK(loaded == (script != nullptr));
  if (loaded) {
    FUZZ_CHECK(!popbox::HasError());
    FUZZ_CHECK(static_cast<size_t>(document.Length()) == script->contents.size());
    FUZZ_CHECK(document.Length() == 0 ||
               memcmp(document.Text(), script->contents.data(), script->contents.size()) == 0);
  } else {
    FUZZ_CHECK(strcmp(popbox::ErrorMessage(), "Missing BLOB: Setup.ini") == 0);
    FUZZ_CHECK(document.Length() == 0 && document.Capacity() == 0);
  }
  // Closed on every path: a read now must fail without touching anything.
  uint8_t* none = nullptr;
  uint32_t ignored = 0;
  char spare[popbox::NAME_BUFFER_SIZE];
  FUZZ_CHECK(!popbox::thePayload.ReadNextBlob(spare, &none, &ignored, &ignored) && none == nullptr);
  return 0;
}
