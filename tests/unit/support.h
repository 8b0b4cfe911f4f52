// Helpers of the unit tests: a temp folder, payload images read by the
// setup's own reader, the script document with string results, and the
// error slot as one string.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/error_slot.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"
#include "script/script_document.h"

namespace test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A fresh folder, removed with everything in it.
struct TempFolder {
  std::string path;
  TempFolder() {
    do {
      path = (fs::temp_directory_path() / ("popbox-test-" + std::to_string(std::random_device{}())))
                 .string();
    } while (!fs::create_directory(path));
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f != nullptr) << path;
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

inline std::string ReadFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  for (int c; f && (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
  if (f) fclose(f);
  return f ? text : "<missing>";
}

// A setup file image: a stub of zero bytes and records written by hand,
// not with BlobHeader, so that a fault in the shared header shows.
struct Image {
  Bytes bytes = Bytes(popbox::PAYLOAD_OFFSET, 0);
  Image& Header(uint32_t nameLength, uint32_t unpacked, uint32_t packed, uint32_t type,
                uint32_t magic = 0xB10B) {
    for (auto f : {std::pair<uint32_t, int>{magic, 2},
                   {nameLength, 2},
                   {unpacked, 4},
                   {packed, 4},
                   {type, 1}}) {
      for (int i = 0; i < f.second; ++i) bytes.push_back(static_cast<uint8_t>(f.first >> (8 * i)));
    }
    return *this;
  }
  Image& Raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  // Stored as they are, unless `unpacked` tells another size (packed).
  Image& Record(uint32_t type, const std::string& name, const Bytes& stored,
                int64_t unpacked = -1) {
    uint32_t n = static_cast<uint32_t>(stored.size());
    Header(static_cast<uint32_t>(name.size()), unpacked < 0 ? n : uint32_t(unpacked), n, type);
    return Raw(B(name)).Raw(stored);
  }
  Image& File(const std::string& name, const std::string& text) {
    return Record(popbox::BLOB_FILE, name, B(text));
  }
  Image& Folder(const std::string& name) { return Record(popbox::BLOB_FOLDER, name, {}); }
  Image& End() { return Header(0, 0, 0, popbox::BLOB_END); }
};

// Makes an image the file that thePayload, the setup's reader, walks.
class OwnFile {
 public:
  // A `size` beyond the bytes makes the file that long, with a hole.
  explicit OwnFile(const Bytes& bytes, uint64_t size = 0) {
    WriteFile(temp_ / "setup.exe", bytes);
    if (size > bytes.size()) fs::resize_file(temp_ / "setup.exe", size);
    handle_ = popbox::OpenForReading((temp_ / "setup.exe").c_str());
    popbox::thePayload = popbox::PayloadStream(handle_);
  }
  ~OwnFile() {
    popbox::thePayload.ClosePayload();
    popbox::thePayload = popbox::PayloadStream();
    popbox::CloseFile(handle_);
  }

 private:
  TempFolder temp_;
  popbox::FileHandle handle_;
};

// The document with results as strings.
struct Doc : popbox::ScriptDocument {
  explicit Doc(const std::string& text = "") {
    LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  }
  std::string Str() const { return Length() ? std::string(Text(), Length()) : ""; }
  // GetString into `size` bytes; "<none>" for a missing key, whose buffer
  // must have been emptied.
  std::string Get(const char* key, int32_t size = 260) const {
    std::string buffer(size, '#');
    if (GetString(key, &buffer[0], size)) return buffer.c_str();
    return buffer[0] ? "<buffer not emptied>" : "<none>";
  }
  std::string Section(const char* name, int32_t size = 2048) {
    std::string buffer(size, '#');
    GetSectionText(name, &buffer[0], size);
    return buffer.c_str();
  }
};

// The pending report as "Caption: message".
inline std::string Report() {
  return std::string(popbox::ErrorCaption()) + ": " + popbox::ErrorMessage();
}

}  // namespace test
