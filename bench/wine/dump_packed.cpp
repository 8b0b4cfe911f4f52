// dump-packed: packs every file of a corpus folder on its own with the
// optimal encoder, as the packer's payload records hold them, and writes
// the packed streams to one file for decode-bench.exe, which cannot run the
// encoder (it is host code) but should time the decoder as the stub runs it.
//
//   dump-packed CORPUS_FOLDER OUT_FILE
//
// OUT_FILE: "PBDP", u32 count, then per file u32 size, u32 stored length,
// u8 compressed flag and the stored bytes (all little-endian). A file whose
// packed form is not smaller than itself is stored, as in a payload.
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "packer/encoder/encoder.h"
#include "payload/unpack.h"

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || !std::filesystem::is_directory(argv[1])) {
    fprintf(stderr, "usage: dump-packed CORPUS_FOLDER OUT_FILE\n");
    return 2;
  }
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1]))
    if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());

  std::vector<uint8_t> out = {'P', 'B', 'D', 'P'};
  PutU32(out, static_cast<uint32_t>(paths.size()));
  size_t total = 0, stored = 0;
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    std::vector<uint8_t> packed = popbox::EncodeOptimal(data.data(), data.size());
    const bool compressed = !packed.empty() && packed.size() < data.size();
    if (compressed) {
      // The stream must restore the file, or the figures would mean nothing.
      std::vector<uint8_t> check(data.size());
      if (popbox::UnpackBlob(packed.data(), static_cast<uint32_t>(packed.size()), check.data(),
                             static_cast<uint32_t>(check.size())) != data.size() ||
          check != data) {
        fprintf(stderr, "dump-packed: %s does not decode to the original\n", path.c_str());
        return 1;
      }
    }
    const std::vector<uint8_t>& body = compressed ? packed : data;
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutU32(out, static_cast<uint32_t>(body.size()));
    out.push_back(compressed ? 1 : 0);
    out.insert(out.end(), body.begin(), body.end());
    total += data.size();
    stored += body.size();
  }
  FILE* f = fopen(argv[2], "wb");
  if (!f || fwrite(out.data(), 1, out.size(), f) != out.size() || fclose(f) != 0) {
    fprintf(stderr, "dump-packed: cannot write %s\n", argv[2]);
    return 1;
  }
  printf("%zu files, %zu bytes, %zu packed\n", paths.size(), total, stored);
  return 0;
}
