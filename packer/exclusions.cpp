#include "packer/exclusions.h"

#include <stdint.h>
#include <string.h>

#include "packer/common/packer_error.h"
#include "packer/host/host_file.h"

namespace popbox {

const char IGNORE_FILE_NAME[] = ".popboxignore";

namespace {

// The match of pattern[p...] against text[t...] for every pair at most
// once: a pattern of many stars would otherwise try every way to split the
// text among them, exponential in the stars.
class Glob {
 public:
  Glob(const char* pattern, const char* text)
      : pattern_(pattern),
        text_(text),
        columns_(strlen(text) + 1),
        known_((strlen(pattern) + 1) * columns_, -1) {}

  bool Match(const char* p, const char* t) {
    int8_t& known = known_[static_cast<size_t>(p - pattern_) * columns_ + (t - text_)];
    if (known < 0) known = Step(p, t);
    return known != 0;
  }

 private:
  bool Step(const char* p, const char* t) {
    if (!*p) return !*t;
    if (p[0] == '*' && p[1] == '*') {
      // "**/" stands for any number of whole folders, none included.
      bool folders = p[2] == '/';
      for (p += folders ? 3 : 2;; ++t) {
        if ((!folders || t == text_ || t[-1] == '/') && Match(p, t)) return true;
        if (!*t) return false;
      }
    }
    if (*p == '*') {
      for (;; ++t) {
        if (Match(p + 1, t)) return true;
        if (!*t || *t == '/') return false;
      }
    }
    if (!*t || (*p == '?' ? *t == '/' : *p != *t)) return false;
    return Match(p + 1, t + 1);
  }

  const char* pattern_;
  const char* text_;
  size_t columns_;
  std::vector<int8_t> known_;  // -1 not yet known, else the answer
};

}  // namespace

bool GlobMatch(const char* pattern, const char* text) {
  return Glob(pattern, text).Match(pattern, text);
}

Exclusions::Exclusions(const std::string& appFolder, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) patterns_.push_back({pattern, "--exclude", 0, false});
  std::string path = appFolder + "/" + IGNORE_FILE_NAME;
  if (StatHost(path, true).kind == HostKind::Missing) return;
  std::vector<uint8_t> bytes = ReadWholeFile(path, 1 << 20);
  std::string text(bytes.begin(), bytes.end());
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    ++number;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line[0] != '#') patterns_.push_back({line, path, number, false});
  }
}

bool PatternMatches(std::string pattern, const std::string& path, bool isFolder) {
  if (pattern.back() == '/') {
    if (!isFolder) return false;
    pattern.pop_back();
  }
  bool anchored = pattern.find('/') != std::string::npos;
  if (anchored && pattern[0] == '/') pattern.erase(0, 1);
  return GlobMatch(pattern.c_str(), anchored ? path.c_str() : path.c_str() + path.rfind('/') + 1);
}

const std::string* Exclusions::Match(const std::string& path, bool isFolder) const {
  static const std::string ignoreFile = IGNORE_FILE_NAME;
  if (path == ignoreFile) return &ignoreFile;
  for (const Pattern& pattern : patterns_) {
    if (PatternMatches(pattern.text, path, isFolder)) {
      pattern.matched = true;
      return &pattern.text;
    }
  }
  return nullptr;
}

std::vector<Exclusions::Unused> Exclusions::NeverMatched() const {
  std::vector<Unused> unused;
  for (const Pattern& p : patterns_) {
    if (!p.matched) unused.push_back({p.text, p.source, p.line});
  }
  return unused;
}

}  // namespace popbox
