// Byte-text helpers shared by the script, the install checks and the
// dialog. Texts are zero-terminated bytes in the ANSI code page.
#pragma once

#include <stdint.h>

namespace popbox {

// White space is every byte from 1 to 32; bytes 128 to 255 are text.
inline bool IsWhiteSpace(uint8_t byte) { return byte >= 1 && byte <= 32; }

// Folds only the ASCII letters A to Z.
inline uint8_t FoldCase(uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<uint8_t>(byte + 32) : byte;
}

// Compares n bytes without regard to the case of A to Z.
bool EqualNoCase(const char* a, const char* b, uint32_t n);
// Compares two whole texts without regard to the case of A to Z.
bool EqualTextNoCase(const char* a, const char* b);

// Removes every leading and trailing white-space byte, in place.
void TrimText(char* text);

}  // namespace popbox
