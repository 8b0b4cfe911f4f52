// decode-bench: the payload decoder's speed on Windows, on the streams that
// dump-packed wrote on the host. Restores every file (decodes the packed
// ones, copies the stored ones) again and again until --min-time seconds of
// wall time have passed, and does the same with memcpy of the restored
// bytes as the baseline. Prints one line:
//
//   files=N bytes=B decode_mbs=X memcpy_mbs=Y
//
//   decode-bench.exe [--min-time SECONDS] PACKED_FILE
//
// Built twice: decode-bench.exe with the decoder at -O2, and
// decode-bench-os.exe with the decoder compiled as the stub compiles it.
// No exceptions here, so that both builds take the same source.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "payload/unpack.h"

namespace {

struct Entry {
  uint32_t size;
  uint32_t length;
  bool compressed;
  const uint8_t* body;
};

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double Now() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds per pass over all entries; decode false copies instead.
double SecondsPerPass(const Entry* entries, uint32_t count, uint8_t* scratch, uint32_t capacity,
                      bool decode, double minTime, bool* ok) {
  const double start = Now();
  int passes = 0;
  double elapsed;
  do {
    for (uint32_t i = 0; i < count; ++i) {
      const Entry& e = entries[i];
      if (decode && e.compressed) {
        if (popbox::UnpackBlob(e.body, e.length, scratch, capacity) != e.size) *ok = false;
      } else {
        memcpy(scratch, decode ? e.body : scratch + capacity, e.size);
      }
    }
    ++passes;
    elapsed = Now() - start;
  } while (elapsed < minTime);
  return elapsed / passes;
}

}  // namespace

int main(int argc, char** argv) {
  double minTime = 1.0;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--min-time") == 0 && i + 1 < argc) {
      minTime = atof(argv[++i]);
    } else if (!path && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    fprintf(stderr, "usage: decode-bench.exe [--min-time SECONDS] PACKED_FILE\n");
    return 2;
  }

  FILE* f = fopen(path, "rb");
  if (!f) {
    fprintf(stderr, "decode-bench: cannot open %s\n", path);
    return 1;
  }
  fseek(f, 0, SEEK_END);
  const long fileSize = ftell(f);
  fseek(f, 0, SEEK_SET);
  uint8_t* file = static_cast<uint8_t*>(malloc(fileSize > 0 ? fileSize : 1));
  const bool read = file && fileSize >= 8 && fread(file, 1, fileSize, f) == size_t(fileSize);
  fclose(f);
  if (!read || memcmp(file, "PBDP", 4) != 0) {
    fprintf(stderr, "decode-bench: %s is not a dump-packed file\n", path);
    return 1;
  }

  const uint32_t count = GetU32(file + 4);
  Entry* entries = static_cast<Entry*>(calloc(count ? count : 1, sizeof(Entry)));
  size_t at = 8;
  uint32_t largest = 0;
  double total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 9 > size_t(fileSize)) break;
    Entry& e = entries[i];
    e.size = GetU32(file + at);
    e.length = GetU32(file + at + 4);
    e.compressed = file[at + 8] != 0;
    at += 9;
    if (e.length > size_t(fileSize) - at || (!e.compressed && e.length != e.size)) {
      fprintf(stderr, "decode-bench: %s is damaged at entry %u\n", path, i);
      return 1;
    }
    e.body = file + at;
    at += e.length;
    if (e.size > largest) largest = e.size;
    total += e.size;
  }

  // The scratch holds one restored file, and behind it the source of the
  // memcpy baseline.
  uint8_t* scratch = static_cast<uint8_t*>(calloc(2, largest + 1));
  bool ok = true;
  const double decodeSeconds =
      SecondsPerPass(entries, count, scratch, largest + 1, true, minTime, &ok);
  const double copySeconds =
      SecondsPerPass(entries, count, scratch, largest + 1, false, minTime, &ok);
  if (!ok) {
    fprintf(stderr, "decode-bench: a stream does not decode to its size\n");
    return 1;
  }
  printf("files=%u bytes=%.0f decode_mbs=%.1f memcpy_mbs=%.1f\n", count, total,
         total / decodeSeconds / 1e6, total / copySeconds / 1e6);
  return 0;
}
