#include "packer/common/diagnostics.h"

namespace popbox {

size_t Diagnostics::Errors() const {
  size_t n = 0;
  for (const Diagnostic& d : list_) n += d.error ? 1 : 0;
  return n;
}

void Diagnostics::Print(std::ostream& out, bool withWarnings) const {
  for (const Diagnostic& d : list_) {
    if (d.error || withWarnings) out << FormatDiagnostic(d) << '\n';
  }
}

std::string FormatDiagnostic(const Diagnostic& d) {
  std::string text = d.file;
  if (d.line > 0) text += ":" + std::to_string(d.line);
  text += d.error ? ": error: " : ": warning: ";
  // One line each, whatever a file name or message holds.
  for (char c : d.message) text += (c == '\n' || c == '\r') ? ' ' : c;
  return text;
}

std::string CountOf(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace popbox
