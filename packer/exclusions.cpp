#include "packer/exclusions.h"

#include "packer/host_file.h"
#include "packer/packer_error.h"

namespace popbox {

const char IGNORE_FILE_NAME[] = ".popboxignore";

bool GlobMatch(const char* p, const char* text) {
  const char* t = text;
  for (; *p; ++p, ++t) {
    if (p[0] == '*' && p[1] == '*') {
      // "**/" stands for any number of whole folders, none included.
      bool folders = p[2] == '/';
      for (p += folders ? 3 : 2;; ++t) {
        if ((!folders || t == text || t[-1] == '/') && GlobMatch(p, t)) return true;
        if (!*t) return false;
      }
    }
    if (*p == '*') {
      for (++p;; ++t) {
        if (GlobMatch(p, t)) return true;
        if (!*t || *t == '/') return false;
      }
    }
    if (!*t || (*p == '?' ? *t == '/' : *p != *t)) return false;
  }
  return !*t;
}

Exclusions::Exclusions(const std::string& appFolder, const std::vector<std::string>& patterns)
    : patterns_(patterns) {
  std::string path = appFolder + "/" + IGNORE_FILE_NAME;
  if (StatHost(path, true).kind == HostKind::Missing) return;
  std::vector<uint8_t> bytes = ReadWholeFile(path, 1 << 20);
  std::string text(bytes.begin(), bytes.end());
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line[0] != '#') patterns_.push_back(line);
  }
}

const std::string* Exclusions::Match(const std::string& path, bool isFolder) const {
  static const std::string ignoreFile = IGNORE_FILE_NAME;
  if (path == ignoreFile) return &ignoreFile;
  std::string name = path.substr(path.rfind('/') + 1);
  for (const std::string& pattern : patterns_) {
    std::string p = pattern;
    if (p.back() == '/') {
      if (!isFolder) continue;
      p.pop_back();
    }
    bool anchored = p.find('/') != std::string::npos;
    if (anchored && p[0] == '/') p.erase(0, 1);
    if (GlobMatch(p.c_str(), anchored ? path.c_str() : name.c_str())) return &pattern;
  }
  return nullptr;
}

}  // namespace popbox
