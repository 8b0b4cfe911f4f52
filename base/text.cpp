#include "base/text.h"

#include <string.h>

namespace popbox {

bool EqualNoCase(const char* a, const char* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if (FoldCase(static_cast<uint8_t>(a[i])) != FoldCase(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

bool EqualTextNoCase(const char* a, const char* b) {
  size_t n = strlen(a);
  return n == strlen(b) && EqualNoCase(a, b, static_cast<uint32_t>(n));
}

void TrimText(char* text) {
  size_t start = 0;
  while (IsWhiteSpace(static_cast<uint8_t>(text[start]))) ++start;
  size_t end = strlen(text + start) + start;
  while (end > start && IsWhiteSpace(static_cast<uint8_t>(text[end - 1]))) --end;
  memmove(text, text + start, end - start);
  text[end - start] = 0;
}

}  // namespace popbox
