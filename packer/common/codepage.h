// Windows ANSI code pages for record names. Host names are UTF-8; the stub
// takes the bytes of a record name in the code page of the machine it
// runs on, so the packer converts each name to the code page the setup is
// meant for, and back again when it extracts.
#pragma once

#include <stdint.h>

#include <string>

namespace popbox {

struct CodePage;

// 1250 (Central European), 1251 (Cyrillic) or 1252 (Western); null for
// any other number.
const CodePage* FindCodePage(int number);
int CodePageNumber(const CodePage& page);

// Converts UTF-8 text to the code page. On failure returns false and sets
// `problem` to a short description naming the character ("the character
// U+4E2D 中" or "bytes that are not UTF-8").
bool Utf8ToCodePage(const CodePage& page, const std::string& utf8, std::string* bytes,
                    std::string* problem);

// The reverse, for names read back from a setup. Bytes the code page
// leaves undefined become U+0080..U+009F as Windows maps them, so the
// result is always defined and distinct texts stay distinct.
std::string CodePageToUtf8(const CodePage& page, const std::string& bytes);

// CodePageToUtf8 for a terminal: control characters (bytes below 32, 127
// and the undefined bytes that become U+0080 to U+009F) are shown as \x1b,
// so that a name can neither move the cursor nor start an escape sequence.
std::string ShownName(const CodePage& page, const std::string& bytes);

// A key under which names that Windows takes for one file are equal: the
// code page's letters folded to upper case (a-z, the accented Latin
// letters, Cyrillic) as the NTFS case table does for these characters.
std::string CaseFoldKey(const CodePage& page, const std::string& bytes);

// True when the text holds a byte above 127 (anything beyond ASCII).
bool HasHighBytes(const std::string& text);

// True when the text is well-formed UTF-8.
bool IsUtf8(const std::string& text);

// "U+00E9 é" for messages.
std::string DescribeCodePoint(uint32_t codePoint);

}  // namespace popbox
