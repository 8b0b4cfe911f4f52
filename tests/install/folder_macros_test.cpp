// Folder macros against the registry table: expansion in place, the four
// reports, the length limit and what the buffer holds after a failure.
#include "script/folder_macros.h"

#include <gtest/gtest.h>

#include <string>

#include "install_test_support.h"
#include "script/script_document.h"

using itest::Bug;
using itest::PathBuffer;
using itest::Report;

namespace {

class FolderMacrosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    popbox::ClearRegistryTable();
    popbox::ClearError();
    itest::SetProgramFiles("C:\\Program Files");
    itest::SetShellFolder("Desktop", "C:\\Me\\Desktop");
    itest::SetShellFolder("Programs", "C:\\Me\\Start Menu\\Programs");
    itest::SetShellFolder("Personal", "C:\\Me\\Documents");
  }
  void TearDown() override { popbox::ClearRegistryTable(); }

  // Expands `text` in a buffer of exactly 260 bytes; `text` gets the result.
  bool Expand(std::string* text) {
    PathBuffer buffer(*text);
    bool ok = popbox::ExpandFolderMacros(buffer.Data());
    *text = buffer.Text();
    return ok;
  }
};

TEST_F(FolderMacrosTest, TextsWithoutACompleteMacroStayAsTheyAre) {
  for (const char* text : {"", "C:\\Apps\\Viewer", "C:\\a<b", "<Desktop", "x>y<Desktop"}) {
    std::string s = text;
    EXPECT_TRUE(Expand(&s)) << text;
    EXPECT_EQ(s, text);
  }
  EXPECT_FALSE(popbox::HasError());
}

TEST_F(FolderMacrosTest, ExpandsEveryMacroInPlace) {
  std::string s = "<Program Files>\\Viewer";
  EXPECT_TRUE(Expand(&s));
  EXPECT_EQ(s, "C:\\Program Files\\Viewer");

  s = "<Desktop><Programs Menu>";  // two in a row: the tail is searched too
  EXPECT_TRUE(Expand(&s));
  EXPECT_EQ(s, "C:\\Me\\DesktopC:\\Me\\Start Menu\\Programs");

  s = "[<My Documents>]\\<Desktop>\\x.lnk";
  EXPECT_TRUE(Expand(&s));
  EXPECT_EQ(s, "[C:\\Me\\Documents]\\C:\\Me\\Desktop\\x.lnk");

  itest::SetShellFolder("Desktop", "D:\\<Program Files>\\<Nope>");  // inserted, never searched
  s = "<Desktop>\\x";
  EXPECT_TRUE(Expand(&s));
  EXPECT_EQ(s, "D:\\<Program Files>\\<Nope>\\x");
  EXPECT_FALSE(popbox::HasError());
}

TEST_F(FolderMacrosTest, UnknownNamesAreReportedAsWrittenAndLeaveThePrefix) {
  struct Case {
    const char* text;
    const char* name;
    const char* prefix;
  } cases[] = {
      {"<desktop>\\x", "desktop", ""},
      {"<PROGRAM FILES>", "PROGRAM FILES", ""},
      {"C:\\<>\\x", "", "C:\\"},
      {"<<Desktop>", "<Desktop", ""},
      {"<Desktop>\\<Start Menu>\\x", "Start Menu", "C:\\Me\\Desktop\\"},
  };
  for (const Case& c : cases) {
    popbox::ClearError();
    std::string s = c.text;
    EXPECT_FALSE(Expand(&s)) << c.text;
    EXPECT_EQ(Report(), Bug(std::string("Macro Unknown: ") + c.name)) << c.text;
    EXPECT_EQ(s, c.prefix) << c.text;
  }
}

TEST_F(FolderMacrosTest, AMissingValueIsUndefined) {
  itest::SetShellFolder("Desktop", nullptr);
  std::string s = "<Program Files>\\<Desktop>\\x";
  EXPECT_FALSE(Expand(&s));
  EXPECT_EQ(Report(), Bug("Macro Undefined: Desktop"));
  EXPECT_EQ(s, "C:\\Program Files\\");
}

TEST_F(FolderMacrosTest, TheResultMayHave259CharactersButNot260) {
  const std::string folder(200, 'f');
  itest::SetShellFolder("Desktop", folder.c_str());
  std::string s = "P<Desktop>" + std::string(58, 't');
  EXPECT_TRUE(Expand(&s));
  EXPECT_EQ(s, "P" + folder + std::string(58, 't'));
  EXPECT_EQ(s.size(), 259u);

  s = "P<Desktop>" + std::string(59, 't');
  EXPECT_FALSE(Expand(&s));
  EXPECT_EQ(Report(), Bug("String Overflow"));
  EXPECT_EQ(s, "P");
}

TEST_F(FolderMacrosTest, GetPathReadsTheSelectedSection) {
  const std::string text =
      "[Install]\r\nDir=<Program Files>\\Viewer\r\nEmpty=\r\n[Other]\r\nOnly=x\r\n";
  popbox::ScriptDocument doc;
  doc.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  doc.SelectSection("Install");
  PathBuffer buffer("garbage");

  EXPECT_TRUE(doc.GetPath("dir", buffer.Data()));
  EXPECT_EQ(buffer.Text(), "C:\\Program Files\\Viewer");
  EXPECT_TRUE(doc.GetPath("Empty", buffer.Data()));
  EXPECT_EQ(buffer.Text(), "");
  EXPECT_FALSE(popbox::HasError());

  buffer.Set("garbage");
  EXPECT_FALSE(doc.GetPath("Only", buffer.Data()));
  EXPECT_EQ(Report(), Bug("INI Symbol Undefined: Only"));
  EXPECT_EQ(buffer.Text(), "");
}

}  // namespace
