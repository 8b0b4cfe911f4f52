// What an author leaves out of the setup: the --exclude patterns and the
// lines of APPDIR/.popboxignore (one glob a line; blank lines and lines
// that begin with # are passed over). The ignore file itself is never
// packed.
//
// A pattern without a slash matches a name at any depth; one with a slash
// matches the path from the application folder (a leading slash only
// anchors it). * and ? match within one name, ** across folders; a
// trailing slash matches folders only. A folder left out takes everything
// in it along.
#pragma once

#include <string>
#include <vector>

namespace popbox {

extern const char IGNORE_FILE_NAME[];  // ".popboxignore"

class Exclusions {
 public:
  Exclusions() = default;
  // The patterns, then those of the ignore file in `appFolder`, if there is
  // one. Throws PackerError when the ignore file cannot be read.
  Exclusions(const std::string& appFolder, const std::vector<std::string>& patterns);

  // The pattern that leaves out `path` (relative to the application
  // folder, '/' between names), or null. Each pattern remembers whether it
  // matched.
  const std::string* Match(const std::string& path, bool isFolder) const;

  // A pattern that left out nothing, and where it was given: the ignore
  // file and its line, or "--exclude" and 0.
  struct Unused {
    std::string pattern;
    std::string source;
    int line;
  };
  std::vector<Unused> NeverMatched() const;

 private:
  struct Pattern {
    std::string text;
    std::string source;
    int line;
    mutable bool matched;
  };
  std::vector<Pattern> patterns_;
};

// One pattern against one path, as Exclusions::Match applies it.
bool PatternMatches(std::string pattern, const std::string& path, bool isFolder);

// Glob matching: * and ? within a name, ** across names.
bool GlobMatch(const char* pattern, const char* text);

}  // namespace popbox
