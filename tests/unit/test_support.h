// Helpers shared by the unit tests: a temporary folder that removes what the
// tests put in it, whole-file reads and writes, payload files (a zero stub
// image followed by records) read as the program's own file, and a script
// document with string-returning queries.
#pragma once

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
#include "payload/payload_stream.h"
#include "platform/os_api.h"
#include "script/script_document.h"

namespace popbox_test {

using Bytes = std::vector<uint8_t>;
inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

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
  const std::string& Folder() const { return folder_; }
  std::string Path(const std::string& name) {
    paths_.push_back(folder_ + "/" + name);
    return paths_.back();
  }

 private:
  std::string folder_;
  std::vector<std::string> paths_;
};

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return f && fclose(f) == 0 && ok;
}

// The file's bytes; `exists` tells a missing file from an empty one.
inline Bytes ReadBytes(const std::string& path, bool* exists = nullptr) {
  Bytes bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (exists) *exists = f != nullptr;
  for (int c; f && (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  if (f) fclose(f);
  return bytes;
}

// A payload file image. Header bytes are put here by hand, not with
// BlobHeader, so that a layout fault in the shared header shows.
struct PayloadImage {
  Bytes bytes = Bytes(popbox::PAYLOAD_OFFSET, 0);

  PayloadImage& Header(uint32_t nameLength, uint32_t unpackedSize, uint32_t packedSize,
                       uint32_t type, uint32_t magic = popbox::BLOB_MAGIC) {
    const uint32_t fields[][2] = {
        {magic, 2}, {nameLength, 2}, {unpackedSize, 4}, {packedSize, 4}, {type, 1}};
    for (auto& f : fields)
      for (uint32_t i = 0; i < f[1]; ++i) bytes.push_back(static_cast<uint8_t>(f[0] >> (8 * i)));
    return *this;
  }
  PayloadImage& Raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  // Stored as they are unless `unpackedSize` says otherwise.
  PayloadImage& Record(uint32_t type, const std::string& name, const Bytes& stored,
                       int64_t unpackedSize = -1) {
    uint32_t size = static_cast<uint32_t>(stored.size());
    Header(static_cast<uint32_t>(name.size()),
           unpackedSize < 0 ? size : static_cast<uint32_t>(unpackedSize), size, type);
    return Raw(ToBytes(name)).Raw(stored);
  }
  PayloadImage& File(const std::string& name, const std::string& text) {
    return Record(popbox::BLOB_FILE, name, ToBytes(text));
  }
  PayloadImage& End() { return Header(0, 0, 0, popbox::BLOB_END); }
};

// Makes payload images (or any bytes) the file that the setup's reader,
// thePayload, walks as its own.
class OwnFile {
 public:
  ~OwnFile() { Release(); }
  void Use(const Bytes& bytes) {
    Release();
    path_ = temp_.Path("setup-" + std::to_string(count_++) + ".exe");
    WriteBytes(path_, bytes);
    handle_ = popbox::OpenForReading(path_.c_str());
    popbox::thePayload = popbox::PayloadStream(handle_);
  }
  void UseMissing() {
    Release();
    popbox::thePayload = popbox::PayloadStream(popbox::INVALID_FILE);
  }

 private:
  void Release() {
    popbox::thePayload.ClosePayload();
    popbox::thePayload = popbox::PayloadStream();
    if (handle_ != popbox::INVALID_FILE) popbox::CloseFile(handle_);
    handle_ = popbox::INVALID_FILE;
  }
  TempFolder temp_;
  std::string path_;
  popbox::FileHandle handle_ = popbox::INVALID_FILE;
  int count_ = 0;
};

struct Doc : popbox::ScriptDocument {
  Doc() = default;
  explicit Doc(const std::string& text) { Load(text); }
  void Load(const std::string& text) {
    LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  }
  std::string Str() const { return Length() ? std::string(Text(), Length()) : ""; }
  // GetString into `size` bytes; "<false>" for a missing key, whose buffer
  // must have been emptied.
  std::string Get(const char* key, int32_t size = 260) const {
    std::string buffer(size, '#');
    if (GetString(key, &buffer[0], size)) return buffer.c_str();
    return buffer[0] == 0 ? "<false>" : "<false, buffer not emptied>";
  }
  std::string Section(const char* name, int32_t size = 2048) {
    std::string buffer(size, '#');
    GetSectionText(name, &buffer[0], size);
    return buffer.c_str();
  }
};

}  // namespace popbox_test
