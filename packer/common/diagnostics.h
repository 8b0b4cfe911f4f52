// What `check` finds, in the form compilers use, one line each:
//   app/Setup.ini:12: error: [Install] has no LinkTarget; ...
//   app/docs/what?.txt: error: its name contains ...
// Errors stop `pack`; warnings are printed and packing goes on.
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

namespace popbox {

struct Diagnostic {
  bool error;
  std::string file;
  int line;  // 0: the file as a whole
  std::string message;
};

class Diagnostics {
 public:
  void Error(const std::string& file, int line, const std::string& message) {
    list_.push_back({true, file, line, message});
  }
  void Warning(const std::string& file, int line, const std::string& message) {
    list_.push_back({false, file, line, message});
  }
  size_t Errors() const;
  size_t Warnings() const { return list_.size() - Errors(); }
  const std::vector<Diagnostic>& All() const { return list_; }
  // Every diagnostic, or only the errors, in the order found.
  void Print(std::ostream& out, bool withWarnings) const;

 private:
  std::vector<Diagnostic> list_;
};

std::string FormatDiagnostic(const Diagnostic& d);

// "1 file", "2 files": a count and its noun, for summaries.
std::string CountOf(uint64_t n, const char* noun);

}  // namespace popbox
