// Helpers for the installation tests: a temp folder that is removed with
// everything in it, path buffers of exactly NAME_BUFFER_SIZE heap bytes (so
// the sanitizer build sees any write past them), the registry table's shell
// folders, and the error slot as a pair of strings.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/error_slot.h"
#include "payload/payload_format.h"
#include "platform/registry.h"

namespace itest {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/popbox-itest-XXXXXX";
    if (mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A writable path buffer of exactly NAME_BUFFER_SIZE bytes.
struct PathBuffer {
  std::vector<char> bytes = std::vector<char>(popbox::NAME_BUFFER_SIZE, '#');
  explicit PathBuffer(const std::string& text = "") { Set(text); }
  void Set(const std::string& text) { memcpy(bytes.data(), text.c_str(), text.size() + 1); }
  char* Data() { return bytes.data(); }
  std::string Text() const { return bytes.data(); }
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

constexpr char SHELL_FOLDERS[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Sets a "Shell Folders" value; null removes it.
inline void SetShellFolder(const char* valueName, const char* folder) {
  popbox::SetRegistryTableString(popbox::RegistryRoot::CurrentUser, SHELL_FOLDERS, valueName,
                                 folder);
}

inline void SetProgramFiles(const char* folder) {
  popbox::SetRegistryTableString(popbox::RegistryRoot::LocalMachine,
                                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                                 folder);
}

// The pending report as (message, caption).
inline std::pair<std::string, std::string> Report() {
  return {popbox::ErrorMessage(), popbox::ErrorCaption()};
}
inline std::pair<std::string, std::string> Bug(const std::string& message) {
  return {message, "Bug"};
}
inline std::pair<std::string, std::string> CannotInstall(const std::string& message) {
  return {message, "Cannot Install"};
}

}  // namespace itest
