// Helpers shared by the unit tests: a temporary folder that removes what the
// tests put in it, whole-file reads and writes, and a builder of payload
// files (a zero stub image followed by records).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

#include "payload/payload_format.h"

namespace popbox_test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temp folder. Every path handed out by
// Path() is deleted (if it exists) when the folder goes, then the folder.
class TempFolder {
 public:
  TempFolder() {
#ifdef _WIN32
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (unsigned i = 0; folder_.empty(); ++i) {
      std::string candidate = std::string(base) + "popbox-unit-" +
                              std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
      if (CreateDirectoryA(candidate.c_str(), nullptr)) folder_ = candidate;
    }
#else
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/popbox-unit-XXXXXX";
    if (mkdtemp(&pattern[0])) folder_ = pattern;
#endif
  }
  ~TempFolder() {
    for (const std::string& path : paths_) remove(path.c_str());
#ifdef _WIN32
    RemoveDirectoryA(folder_.c_str());
#else
    rmdir(folder_.c_str());
#endif
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Folder() const { return folder_; }
  std::string Path(const std::string& name) {
#ifdef _WIN32
    paths_.push_back(folder_ + "\\" + name);
#else
    paths_.push_back(folder_ + "/" + name);
#endif
    return paths_.back();
  }

 private:
  std::string folder_;
  std::vector<std::string> paths_;
};

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// The file's bytes; `exists` tells a missing file from an empty one.
inline Bytes ReadBytes(const std::string& path, bool* exists = nullptr) {
  Bytes bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (exists) *exists = f != nullptr;
  if (!f) return bytes;
  for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return bytes;
}

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A payload file image. The header bytes are written here by hand, not
// with BlobHeader, so that a layout fault in the shared header shows.
struct PayloadImage {
  Bytes bytes = Bytes(popbox::PAYLOAD_OFFSET, 0);

  void Put(uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  PayloadImage& Header(uint32_t nameLength, uint32_t unpackedSize, uint32_t packedSize,
                       uint32_t type, uint16_t magic = popbox::BLOB_MAGIC) {
    Put(magic, 2);
    Put(nameLength, 2);
    Put(unpackedSize, 4);
    Put(packedSize, 4);
    Put(type, 1);
    return *this;
  }
  PayloadImage& Raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  // A record whose stored bytes are `stored`; stored as they are unless
  // `unpackedSize` says otherwise.
  PayloadImage& Record(uint32_t type, const std::string& name, const Bytes& stored,
                       int64_t unpackedSize = -1) {
    uint32_t unpacked = unpackedSize < 0 ? static_cast<uint32_t>(stored.size())
                                         : static_cast<uint32_t>(unpackedSize);
    Header(static_cast<uint32_t>(name.size()), unpacked, static_cast<uint32_t>(stored.size()),
           type);
    return Raw(ToBytes(name)).Raw(stored);
  }
  PayloadImage& File(const std::string& name, const std::string& text) {
    return Record(popbox::BLOB_FILE, name, ToBytes(text));
  }
  PayloadImage& End() { return Header(0, 0, 0, popbox::BLOB_END); }
};

}  // namespace popbox_test
