// Record names in the Windows code pages: conversion both ways and the
// case folding that decides which names Windows takes for one file.
#include "packer/codepage.h"

#include <gtest/gtest.h>

namespace popbox {
namespace {

std::string To(int number, const std::string& utf8, std::string* problem = nullptr) {
  std::string bytes, why;
  bool ok = Utf8ToCodePage(*FindCodePage(number), utf8, &bytes, &why);
  if (problem) *problem = why;
  return ok ? bytes : "<refused>";
}

TEST(CodePage, ConvertsTheLettersOfEachPage) {
  EXPECT_EQ(To(1252, "Caf\xC3\xA9 \xE2\x82\xAC \xC5\x93.txt"), "Caf\xE9 \x80 \x9C.txt");  // é € œ
  EXPECT_EQ(To(1250,
               "\xC5\x81\xC3\xB3"
               "d\xC5\xBA"),
            "\xA3\xF3"
            "d\x9F");                                   // Łódź
  EXPECT_EQ(To(1251, "\xD0\x96\xD1\x91"), "\xC6\xB8");  // Жё
  EXPECT_EQ(FindCodePage(437), nullptr);

  std::string problem;
  EXPECT_EQ(To(1252, "a\xE4\xB8\xAD", &problem), "<refused>");  // 中
  EXPECT_EQ(problem, "the character U+4E2D \xE4\xB8\xAD");
  EXPECT_EQ(To(1252, "\xD0\x96", &problem), "<refused>");  // Ж is not Western
  EXPECT_EQ(To(1251, "\xC3\xA9", &problem), "<refused>");  // é is not Cyrillic
  EXPECT_EQ(To(1252, "\xC2\x81", &problem), "<refused>");  // byte 0x81 is undefined in 1252
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
    EXPECT_EQ(To(1252, bad, &problem), "<refused>");
    EXPECT_EQ(problem, "bytes that are not UTF-8");
  }
}

// Every byte of every page reads back to UTF-8 and, where the page defines
// it, converts to the same byte again: extract undoes pack.
TEST(CodePage, EveryByteRoundTrips) {
  for (int number : {1250, 1251, 1252}) {
    const CodePage& page = *FindCodePage(number);
    for (int b = 1; b < 256; ++b) {
      std::string byte(1, static_cast<char>(b));
      std::string utf8 = CodePageToUtf8(page, byte);
      EXPECT_TRUE(IsUtf8(utf8));
      std::string back, problem;
      if (Utf8ToCodePage(page, utf8, &back, &problem)) {
        EXPECT_EQ(back, byte) << number << " " << b;
      } else {
        EXPECT_TRUE(b >= 0x80 && b < 0xA0) << number << " " << b;  // only undefined C1 slots
      }
    }
  }
}

TEST(CodePage, FoldsCaseAsWindowsComparesNames) {
  auto same = [](int number, const std::string& a, const std::string& b) {
    const CodePage& page = *FindCodePage(number);
    return CaseFoldKey(page, To(number, a)) == CaseFoldKey(page, To(number, b));
  };
  EXPECT_TRUE(same(1252, "readme.TXT", "README.txt"));
  EXPECT_TRUE(same(1252, "\xC3\xA9l\xC3\xA0n", "\xC3\x89L\xC3\x80N"));              // élàn ÉLÀN
  EXPECT_TRUE(same(1252, "\xC5\xA1\xC3\xBF", "\xC5\xA0\xC5\xB8"));                  // šÿ ŠŸ
  EXPECT_TRUE(same(1250, "\xC5\x82\xC4\x85\xC5\xBA", "\xC5\x81\xC4\x84\xC5\xB9"));  // łąź ŁĄŹ
  EXPECT_TRUE(same(1251, "\xD1\x8F\xD1\x91", "\xD0\xAF\xD0\x81"));                  // яё ЯЁ
  EXPECT_FALSE(same(1252, "\xC3\x9F", "ss"));                                       // ß is not SS
  EXPECT_FALSE(same(1252, "\xC3\x97", "\xC3\xB7"));                                 // × is not ÷
  EXPECT_FALSE(same(1252, "a", "\xC3\xA0"));                                        // nor a à
}

}  // namespace
}  // namespace popbox
