// Section and key queries and value edits on the script text.
#include <gtest/gtest.h>

#include <string>

#include "script/script_document.h"
#include "test_support.h"

using popbox::ScriptDocument;
using popbox_test::Doc;

namespace {

const char kExample[] =
    "[Vendor]\r\n"
    "Name=\r\n"
    "URL=\r\n"
    "\r\n"
    "[Install]\r\n"
    "StartProgramsLink=<Programs Menu>\\Example Viewer.lnk\r\n"
    "StartProgramsLinkSelected=TRUE\r\n"
    "DesktopLink=<Desktop>\\Example Viewer.lnk\r\n"
    "DesktopLinkSelected=no\r\n"
    "LinkTarget=Viewer.exe\r\n"
    "Title=Setup\r\n"
    "AppDirCaption=  Install Example Viewer 1.0 to:\r\n"
    "DefaultAppDir=<Program Files>\\Example Viewer\r\n"
    "\r\n"
    "[Installed Message]\r\n"
    "Example Viewer 1.0 is installed.\r\n"
    "\r\n"
    "Start it now?\r\n"
    "\r\n"
    "[PRIVATE]\r\n"
    "Notes of the package author.\r\n";

TEST(ScriptQuery, ExampleScript) {
  Doc doc(kExample);
  EXPECT_TRUE(doc.SelectSection("Vendor"));
  EXPECT_EQ("", doc.Get("Name", 2));
  EXPECT_TRUE(doc.SelectSection("install"));
  EXPECT_EQ("Setup", doc.Get("Title"));
  EXPECT_EQ("Install Example Viewer 1.0 to:", doc.Get("AppDirCaption"));
  EXPECT_TRUE(doc.GetBool("StartProgramsLinkSelected"));
  EXPECT_FALSE(doc.GetBool("DesktopLinkSelected"));
  EXPECT_EQ("<false>", doc.Get("Link"));
  EXPECT_EQ("<false>", doc.Get("Name"));
  EXPECT_EQ("Example Viewer 1.0 is installed.\r\n\r\nStart it now?",
            doc.Section("Installed Message"));
  EXPECT_EQ("<false>", doc.Get("Title"));
  EXPECT_EQ(std::string(kExample), doc.Str()) << "queries change nothing";
}

TEST(ScriptQuery, SectionHeaders) {
  Doc doc(
      "k=before any header\r\n [Install]\r\nk=indented\r\n[ Install]\r\nk=space inside\r\n"
      "[Install ]\r\nk=space before ]\r\n[Installed Message]\r\nk=longer name\r\n"
      "[INSTALL] trailing text\r\nk=found\r\n[install]\r\nk=second\r\n");
  EXPECT_TRUE(doc.SelectSection("Install"));
  EXPECT_EQ("found", doc.Get("k"));
  const char* header = doc.FindSection("Install");
  EXPECT_EQ(doc.Str().find("[INSTALL]"), size_t(header - doc.Text()));
  const char* end = doc.FindSection("Absent");
  EXPECT_EQ(doc.Text() + doc.Length(), end);
  EXPECT_FALSE(doc.SelectSection("Absent"));
  EXPECT_EQ("<false>", doc.Get("k")) << "an absent section leaves the cursor at the end";

  Doc lastLine("[A]\r\nk=1\r\n[B]");
  EXPECT_TRUE(lastLine.SelectSection("B"));
  EXPECT_EQ("<false>", lastLine.Get("k"));
  EXPECT_EQ("", lastLine.Section("B"));
}

TEST(ScriptQuery, AnyBracketLineEndsABody) {
  Doc doc("[A]\r\nk=1\r\n[\r\nj=2\r\n[B]\r\nj=3\r\n");
  EXPECT_EQ("k=1", doc.Section("A"));
  EXPECT_EQ("<false>", doc.Get("j"));
  EXPECT_EQ("1", doc.Get("k"));
}

TEST(ScriptQuery, KeyLines) {
  Doc doc(
      "[S]\r\n Title=indented\r\nTitleBar=longer key\r\nTitle Bar=two words\r\n"
      "; Title=comment\r\ntitle \t= spaced \t\r\nTitle=second line of Title\r\n"
      "Caption\r\n=on the next line\r\nEight=\x80\xFF \r\nEmpty=\r\nTail=no line end");
  ASSERT_TRUE(doc.SelectSection("S"));
  EXPECT_EQ("spaced", doc.Get("Title"));
  EXPECT_EQ("on the next line", doc.Get("Caption"));
  EXPECT_EQ("\x80\xFF", doc.Get("Eight")) << "bytes from 128 are text";
  EXPECT_EQ("", doc.Get("Empty"));
  EXPECT_EQ("<false>", doc.Get("Absent"));
  EXPECT_EQ("<false>", doc.Get("Bar"));
  EXPECT_EQ("no line end", doc.Get("Tail"));

  char* value = nullptr;
  int32_t length = -1;
  ASSERT_TRUE(doc.FindKey("TITLE", &value, &length));
  EXPECT_EQ(" spaced \t", std::string(value, length)) << "the raw value keeps its white space";
  ScriptDocument none;
  EXPECT_FALSE(none.FindKey("Title", &value, &length)) << "no section selected";
}

TEST(ScriptQuery, GetStringCutsAfterTrimming) {
  Doc doc("[S]\r\nLong=" + std::string(300, 'v') + "\r\nSpaced=  a b  \r\n");
  ASSERT_TRUE(doc.SelectSection("S"));
  EXPECT_EQ(std::string(259, 'v'), doc.Get("Long"));
  EXPECT_EQ("v", doc.Get("Long", 2));
  EXPECT_EQ("", doc.Get("Long", 1));
  EXPECT_EQ("a ", doc.Get("Spaced", 3));
  EXPECT_EQ("a b", doc.Get("Spaced", 4));
}

TEST(ScriptQuery, GetBool) {
  std::string text = "[S]\r\n";
  const char* yes[] = {"TRUE", "true", "Yes", "y", "1", "10", " yes", "\tT"};
  const char* no[] = {"FALSE", "no", "0", "-1", "", " ", "2", "on"};
  for (int i = 0; i < 8; ++i) text += "y" + std::to_string(i) + "=" + yes[i] + "\r\n";
  for (int i = 0; i < 8; ++i) text += "n" + std::to_string(i) + "=" + no[i] + "\r\n";
  Doc doc(text);
  ASSERT_TRUE(doc.SelectSection("S"));
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(doc.GetBool(("y" + std::to_string(i)).c_str())) << yes[i];
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(doc.GetBool(("n" + std::to_string(i)).c_str())) << no[i];
  EXPECT_FALSE(doc.GetBool("missing"));
}

TEST(ScriptQuery, SectionText) {
  Doc doc("[Blank]\r\n\r\n  text\r\n \r\n\r\n[Big]\r\n" + std::string(3000, 'b') +
          "\r\n[Empty]\r\n[Last]\r\nk=last \r\n");
  EXPECT_EQ("\r\n  text", doc.Section("Blank"));
  EXPECT_EQ(std::string(2047, 'b'), doc.Section("Big"));
  EXPECT_EQ("", doc.Section("Empty"));
  EXPECT_EQ("k=last", doc.Section("Last"));
  EXPECT_EQ("last", doc.Get("k")) << "the section stays selected";
  EXPECT_EQ("", doc.Section("Absent"));
  EXPECT_EQ("<false>", doc.Get("k")) << "an absent section leaves none to read keys from";
}

TEST(ScriptEdit, TruncateAtSection) {
  std::string head = "[A]\r\nk=1\r\n\r\n; note\r\n";
  Doc doc(head + "[private]\r\nsecret=1\r\n[B]\r\nk=2\r\n");
  int32_t capacity = doc.Capacity();
  ASSERT_TRUE(doc.SelectSection("A"));
  doc.TruncateAtSection("PRIVATE");
  EXPECT_EQ(head, doc.Str());
  EXPECT_EQ(capacity, doc.Capacity());
  EXPECT_EQ(nullptr, doc.Cursor());
  EXPECT_FALSE(doc.SelectSection("B")) << "later sections are cut off too";

  ASSERT_TRUE(doc.SelectSection("A"));
  doc.TruncateAtSection("PRIVATE");
  EXPECT_TRUE(doc.Str() == head && !doc.Cursor()) << "no such section: the selection goes";

  ScriptDocument empty;
  empty.TruncateAtSection("PRIVATE");
  EXPECT_EQ(0, empty.Capacity()) << "an empty document is left alone";
}

TEST(ScriptEdit, SetValueReplacesTheRawValue) {
  Doc doc("[V]\r\nName=\r\nURL =  old value  \r\nNext=n\r\n[W]\r\nOnly=w\r\n");
  ASSERT_TRUE(doc.SelectSection("V"));
  ASSERT_TRUE(doc.SetValue("Name", "Shop"));
  EXPECT_EQ("[V]\r\nName=Shop\r\nURL =  old value  \r\nNext=n\r\n[W]\r\nOnly=w\r\n", doc.Str());
  ASSERT_TRUE(doc.SetValue("URL", "x"));
  EXPECT_EQ("[V]\r\nName=Shop\r\nURL =x\r\nNext=n\r\n[W]\r\nOnly=w\r\n", doc.Str());
  EXPECT_EQ(45, doc.Length());
  ASSERT_TRUE(doc.SetValue("name", " raw  "));
  EXPECT_EQ("[V]\r\nName= raw  \r\nURL =x\r\nNext=n\r\n[W]\r\nOnly=w\r\n", doc.Str());
  EXPECT_EQ("n", doc.Get("Next"));

  std::string before = doc.Str();
  EXPECT_FALSE(doc.SetValue("Only", "changed")) << "Only belongs to another section";
  EXPECT_FALSE(doc.SetValue("Absent", "changed"));
  EXPECT_EQ(before, doc.Str());
}

TEST(ScriptEdit, SetValueGrowsTheBlockAndKeepsTheSelection) {
  Doc doc("[S]\r\nA=1\r\nB=2\r\nC=3");
  ASSERT_TRUE(doc.SelectSection("S"));
  std::string big(1000, 'x');
  ASSERT_TRUE(doc.SetValue("B", big.c_str()));
  ASSERT_TRUE(doc.SetValue("C", "last"));
  ASSERT_TRUE(doc.SetValue("A", ""));
  EXPECT_EQ("[S]\r\nA=\r\nB=" + big + "\r\nC=last", doc.Str());
  EXPECT_EQ(big, doc.Get("B", 2000));
  EXPECT_EQ(0, doc.Text()[doc.Length()]) << "the text stays terminated";
}

}  // namespace
