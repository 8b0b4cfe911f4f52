// popbox-bench: packs every file of a corpus folder on its own, the way the
// packer packs payload records, and prints Markdown tables of packed sizes
// and speeds for the two popbox encoders and, when built with them, for
// LZ4 HC, zlib and xz as yardsticks.
//
//   popbox-bench [--min-time SECONDS] CORPUS_FOLDER
//
// A file whose packed form is not smaller than the file is counted as
// stored, as in a payload. Decoding speed is the time to restore every file
// (decode the packed ones, copy the stored ones), in MB/s of restored bytes;
// the memcpy row copies the same bytes as the baseline. Each measurement is
// repeated until it has run for at least --min-time (default 0.5 s) of
// processor time.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/greedy_encoder.h"
#include "packer/encoder/encoder.h"
#include "payload/unpack.h"

#ifdef POPBOX_BENCH_LZ4
#include <lz4.h>
#include <lz4hc.h>
#endif
#ifdef POPBOX_BENCH_ZLIB
#include <zlib.h>
#endif
#ifdef POPBOX_BENCH_LZMA
#include <lzma.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

struct CorpusFile {
  std::string path;   // relative to the corpus folder
  std::string group;  // first folder of the relative path, "." for top-level files
  Bytes data;
};

// A codec packs one file and restores it into a buffer of exactly its size.
struct Codec {
  std::string name;
  std::function<Bytes(const Bytes&)> pack;
  std::function<bool(const Bytes& packed, uint8_t* out, size_t size)> unpack;
};

std::vector<Codec> Codecs() {
  std::vector<Codec> codecs;
  codecs.push_back({"popbox optimal",
                    [](const Bytes& in) { return popbox::EncodeOptimal(in.data(), in.size()); },
                    [](const Bytes& p, uint8_t* out, size_t size) {
                      return popbox::UnpackBlob(p.data(), static_cast<uint32_t>(p.size()), out,
                                                static_cast<uint32_t>(size)) == size;
                    }});
  codecs.push_back({"popbox greedy",
                    [](const Bytes& in) { return popbox::EncodeGreedy(in.data(), in.size()); },
                    codecs.back().unpack});
#ifdef POPBOX_BENCH_LZ4
  codecs.push_back(
      {"LZ4 HC 12",
       [](const Bytes& in) {
         Bytes out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
         int n = LZ4_compress_HC(reinterpret_cast<const char*>(in.data()),
                                 reinterpret_cast<char*>(out.data()), static_cast<int>(in.size()),
                                 static_cast<int>(out.size()), LZ4HC_CLEVEL_MAX);
         out.resize(n > 0 ? static_cast<size_t>(n) : 0);
         return out;
       },
       [](const Bytes& p, uint8_t* out, size_t size) {
         return LZ4_decompress_safe(reinterpret_cast<const char*>(p.data()),
                                    reinterpret_cast<char*>(out), static_cast<int>(p.size()),
                                    static_cast<int>(size)) == static_cast<int>(size);
       }});
#endif
#ifdef POPBOX_BENCH_ZLIB
  codecs.push_back(
      {"zlib -9",
       [](const Bytes& in) {
         uLongf n = compressBound(static_cast<uLong>(in.size()));
         Bytes out(n);
         if (compress2(out.data(), &n, in.data(), static_cast<uLong>(in.size()), 9) != Z_OK) n = 0;
         out.resize(n);
         return out;
       },
       [](const Bytes& p, uint8_t* out, size_t size) {
         uLongf n = static_cast<uLongf>(size);
         return uncompress(out, &n, p.data(), static_cast<uLong>(p.size())) == Z_OK && n == size;
       }});
#endif
#ifdef POPBOX_BENCH_LZMA
  codecs.push_back({"xz -9",
                    [](const Bytes& in) {
                      Bytes out(lzma_stream_buffer_bound(in.size()));
                      size_t n = 0;
                      if (lzma_easy_buffer_encode(9, LZMA_CHECK_CRC32, nullptr, in.data(),
                                                  in.size(), out.data(), &n, out.size()) != LZMA_OK)
                        n = 0;
                      out.resize(n);
                      return out;
                    },
                    [](const Bytes& p, uint8_t* out, size_t size) {
                      uint64_t memlimit = UINT64_MAX;
                      size_t inPos = 0, outPos = 0;
                      return lzma_stream_buffer_decode(&memlimit, 0, nullptr, p.data(), &inPos,
                                                       p.size(), out, &outPos, size) == LZMA_OK &&
                             outPos == size;
                    }});
#endif
  return codecs;
}

std::vector<CorpusFile> ReadCorpus(const std::filesystem::path& root) {
  std::vector<CorpusFile> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::filesystem::path rel = std::filesystem::relative(entry.path(), root);
    CorpusFile f;
    f.path = rel.generic_string();
    f.group = std::distance(rel.begin(), rel.end()) > 1 ? rel.begin()->string() : ".";
    std::ifstream in(entry.path(), std::ios::binary);
    f.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  return files;
}

// Processor time of this process, in seconds. The benchmark is single
// threaded, so on an idle machine this is the wall time; on a busy one it
// leaves out the time spent waiting for a core.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds per call of `work`, repeated until minTime has passed.
double TimePerCall(double minTime, const std::function<void()>& work) {
  const double start = CpuSeconds();
  int calls = 0;
  double elapsed;
  do {
    work();
    ++calls;
    elapsed = CpuSeconds() - start;
  } while (elapsed < minTime);
  return elapsed / calls;
}

struct Result {
  std::string name;
  size_t packed = 0;  // bytes as stored in a payload
  size_t storedFiles = 0;
  std::map<std::string, size_t> packedByGroup;
  double encodeSeconds = 0;  // 0: not measured
  double decodeSeconds = 0;
};

std::string Megabytes(size_t bytes, double seconds) {
  if (seconds <= 0) return "-";
  char text[32];
  snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / seconds / 1e6);
  return text;
}

std::string Percent(size_t part, size_t whole) {
  char text[32];
  snprintf(text, sizeof text, "%.2f%%", whole ? 100.0 * static_cast<double>(part) / whole : 0.0);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  double minTime = 0.5;
  const char* folder = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--min-time") == 0 && i + 1 < argc) {
      minTime = atof(argv[++i]);
    } else if (argv[i][0] != '-' && !folder) {
      folder = argv[i];
    } else {
      folder = nullptr;
      break;
    }
  }
  if (!folder || !std::filesystem::is_directory(folder)) {
    fprintf(stderr, "usage: popbox-bench [--min-time SECONDS] CORPUS_FOLDER\n");
    return 2;
  }

  std::vector<CorpusFile> files = ReadCorpus(folder);
  size_t total = 0;
  std::map<std::string, size_t> totalByGroup;
  size_t largest = 0;
  for (const CorpusFile& f : files) {
    total += f.data.size();
    totalByGroup[f.group] += f.data.size();
    largest = std::max(largest, f.data.size());
  }
  Bytes scratch(largest + 1);

  std::vector<Result> results;
  {
    Result copy;
    copy.name = "memcpy (stored)";
    copy.packed = total;
    copy.packedByGroup = totalByGroup;
    copy.decodeSeconds = TimePerCall(minTime, [&] {
      for (const CorpusFile& f : files) memcpy(scratch.data(), f.data.data(), f.data.size());
    });
    results.push_back(copy);
  }

  for (const Codec& codec : Codecs()) {
    Result r;
    r.name = codec.name;
    std::vector<Bytes> packed(files.size());
    r.encodeSeconds = TimePerCall(minTime, [&] {
      for (size_t i = 0; i < files.size(); ++i) packed[i] = codec.pack(files[i].data);
    });
    std::vector<bool> stored(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      const Bytes& data = files[i].data;
      stored[i] = packed[i].empty() || packed[i].size() >= data.size();
      if (!stored[i] && !codec.unpack(packed[i], scratch.data(), data.size())) {
        fprintf(stderr, "%s: %s does not decode to the original\n", codec.name.c_str(),
                files[i].path.c_str());
        return 1;
      }
      if (!stored[i] && !std::equal(data.begin(), data.end(), scratch.begin())) {
        fprintf(stderr, "%s: %s decodes to other bytes\n", codec.name.c_str(),
                files[i].path.c_str());
        return 1;
      }
      size_t size = stored[i] ? data.size() : packed[i].size();
      r.packed += size;
      r.storedFiles += stored[i];
      r.packedByGroup[files[i].group] += size;
    }
    r.decodeSeconds = TimePerCall(minTime, [&] {
      for (size_t i = 0; i < files.size(); ++i) {
        const Bytes& data = files[i].data;
        if (stored[i]) {
          memcpy(scratch.data(), data.data(), data.size());
        } else {
          codec.unpack(packed[i], scratch.data(), data.size());
        }
      }
    });
    results.push_back(r);
  }

  printf("Corpus %s: %zu files, %zu bytes; every file packed on its own.\n\n", folder, files.size(),
         total);
  printf("| codec | packed bytes | ratio | stored files | encode MB/s | decode MB/s |\n");
  printf("|---|---:|---:|---:|---:|---:|\n");
  for (const Result& r : results) {
    printf("| %s | %zu | %s | %zu | %s | %s |\n", r.name.c_str(), r.packed,
           Percent(r.packed, total).c_str(), r.storedFiles,
           Megabytes(total, r.encodeSeconds).c_str(), Megabytes(total, r.decodeSeconds).c_str());
  }

  printf("\nPacked bytes by folder (ratio):\n\n| folder | bytes |");
  for (size_t k = 1; k < results.size(); ++k) printf(" %s |", results[k].name.c_str());
  printf("\n|---|---:|");
  for (size_t k = 1; k < results.size(); ++k) printf("---:|");
  printf("\n");
  for (const auto& group : totalByGroup) {
    printf("| %s | %zu |", group.first.c_str(), group.second);
    for (size_t k = 1; k < results.size(); ++k) {
      size_t n = results[k].packedByGroup[group.first];
      printf(" %zu (%s) |", n, Percent(n, group.second).c_str());
    }
    printf("\n");
  }
  return 0;
}
