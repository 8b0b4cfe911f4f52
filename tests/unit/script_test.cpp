// The script document: its text format, queries and edits, and loading it
// from the payload. Decisive cases only; the fuzz target checks the
// invariants over arbitrary texts.
#include <gtest/gtest.h>

#include "support.h"

using namespace popbox;
using test::Doc;

namespace {

const char kExample[] =
    "[Vendor]\r\nName=\r\nURL=\r\n\r\n"
    "[Install]\r\nStartProgramsLinkSelected=TRUE\r\nDesktopLinkSelected=no\r\nLinkTarget=Viewer."
    "exe\r\n"
    "Title=Setup\r\nAppDirCaption=  Install Example Viewer 1.0 to:\r\n\r\n"
    "[Installed Message]\r\nExample Viewer 1.0 is installed.\r\n\r\nStart it now?\r\n\r\n"
    "[PRIVATE]\r\nNotes of the package author.\r\n";

TEST(Script, ExampleQueries) {
  Doc doc(kExample);
  EXPECT_TRUE(doc.SelectSection("Vendor"));
  EXPECT_EQ("", doc.Get("Name", 2));
  EXPECT_TRUE(doc.SelectSection("install"));
  EXPECT_EQ("Setup", doc.Get("Title"));
  EXPECT_EQ("Install Example Viewer 1.0 to:", doc.Get("AppDirCaption"));
  EXPECT_EQ("Install", doc.Get("AppDirCaption", 8)) << "cut after trimming";
  EXPECT_TRUE(doc.GetBool("StartProgramsLinkSelected"));
  EXPECT_FALSE(doc.GetBool("DesktopLinkSelected"));
  EXPECT_EQ("<none>", doc.Get("Link")) << "LinkTarget does not match Link";
  EXPECT_EQ("<none>", doc.Get("Name")) << "Name belongs to [Vendor]";
  EXPECT_EQ("Example Viewer 1.0 is installed.\r\n\r\nStart it now?",
            doc.Section("Installed Message"));
  EXPECT_EQ("<none>", doc.Get("Title")) << "the section text selected [Installed Message]";
  EXPECT_EQ("Exam", doc.Section("Installed Message", 5));
  EXPECT_EQ("", doc.Section("Missing"));
  EXPECT_EQ("<none>", doc.Get("Title")) << "an absent section selects nothing readable";
  EXPECT_FALSE(doc.SelectSection("Installed"));
  EXPECT_EQ(kExample, doc.Str()) << "queries change nothing";
}

// Which line is a header of [Install], and which is a key line of k.
TEST(Script, HeadersAndKeyLines) {
  const struct {
    const char* text;
    const char* value;  // of k in [Install], or <none>
  } cases[] = {
      {"[Install]\r\nk=v\r\n", "v"},
      {"[INSTALL] comment\r\nk = v \r\n", "v"},
      {"[Install]\r\nK\t=\tv\r\n", "v"},
      {"[Install]\r\nk\r\n=v\r\n", "v"},  // white space may hold the line end
      {"[Install]\r\nk=first\r\nk=second\r\n", "first"},
      {"[Install]\r\nk=\r\n", ""},
      {"[Install]\nk=LF only\n", "LF only"},
      {"[Install]\r\nk=v\rafter CR\r\n", "v"},
      {"[Install]\r\nk=\x80\xFF \r\n", "\x80\xFF"},
      {" [Install]\r\nk=v\r\n", "<none>"},
      {"[ Install]\r\nk=v\r\n", "<none>"},
      {"[Install ]\r\nk=v\r\n", "<none>"},
      {"[Installed Message]\r\nk=v\r\n", "<none>"},
      {"k=v\r\n[Install]\r\n", "<none>"},
      {"[Install]\r\n k=indented\r\n", "<none>"},
      {"[Install]\r\nkey=longer\r\nk2=other\r\nk x=word\r\n", "<none>"},
      {"[Install]\r\n[\r\nk=after a lone bracket\r\n", "<none>"},
      {"[Install]\r\n;k=v\r\n", "<none>"},
      {"[Install]\r\nx=1\r\n[Install]\r\nk=second section\r\n", "<none>"},
  };
  for (const auto& c : cases) {
    Doc doc(c.text);
    doc.SelectSection("Install");
    EXPECT_EQ(c.value, doc.Get("k")) << c.text;
  }
}

TEST(Script, Flags) {
  const std::pair<const char*, bool> cases[] = {
      {"TRUE", true}, {"true", true}, {"Yes", true},    {"y", true},   {"1", true},
      {"10", true},   {" yes", true}, {"FALSE", false}, {"no", false}, {"0", false},
      {"-1", false},  {"", false},    {"x", false}};
  for (const auto& [value, set] : cases) {
    Doc doc(std::string("[S]\r\nf=") + value + "\r\n");
    doc.SelectSection("S");
    EXPECT_EQ(set, doc.GetBool("f")) << value;
    EXPECT_FALSE(doc.GetBool("missing"));
  }
}

TEST(Script, SectionText) {
  Doc doc("[A]\r\n\r\n line one\r\nline two \r\n\r\n[B]\r\nx\r\n[C]\r\n\r\n \r\n[D]");
  EXPECT_EQ("\r\n line one\r\nline two", doc.Section("A"));
  EXPECT_EQ("x", doc.Section("B"));
  EXPECT_EQ("", doc.Section("C"));
  EXPECT_EQ("", doc.Section("D")) << "a header on the last line without LF";
}

TEST(Script, SetValue) {
  const struct {
    const char* key;
    const char* value;
    const char* expected;
  } cases[] = {
      {"Name", "Corner Shop", "[V]\r\nName=Corner Shop\r\nURL = old \r\n[W]\r\nName=w\r\n"},
      {"URL", "http://a", "[V]\r\nName=\r\nURL =http://a\r\n[W]\r\nName=w\r\n"},
      {"url", "", "[V]\r\nName=\r\nURL =\r\n[W]\r\nName=w\r\n"},
      {"Missing", "x", "[V]\r\nName=\r\nURL = old \r\n[W]\r\nName=w\r\n"},
  };
  for (const auto& c : cases) {
    Doc doc("[V]\r\nName=\r\nURL = old \r\n[W]\r\nName=w\r\n");
    doc.SelectSection("V");
    EXPECT_EQ(std::string(c.key) != "Missing", doc.SetValue(c.key, c.value)) << c.key;
    EXPECT_EQ(c.expected, doc.Str()) << c.key;
  }
  // Two edits in a row find the second key at its shifted place, and the
  // block grows when it must.
  Doc doc("[V]\r\nName=\r\nURL=\r\n");
  doc.SelectSection("V");
  std::string longUrl(600, 'u');
  EXPECT_TRUE(doc.SetValue("URL", longUrl.c_str()));
  EXPECT_TRUE(doc.SetValue("Name", "n"));
  EXPECT_EQ("[V]\r\nName=n\r\nURL=" + longUrl + "\r\n", doc.Str());
  EXPECT_EQ("n", doc.Get("Name"));
}

TEST(Script, TruncateAtSection) {
  using namespace std::string_literals;
  const struct {
    std::string text;
    std::string kept;
  } cases[] = {
      {"[A]\r\nk=v\r\n\r\n[PRIVATE]\r\nsecret\r\n[B]\r\n", "[A]\r\nk=v\r\n\r\n"},
      {"[A]\r\n[private]\r\nsecret", "[A]\r\n"},
      {"[A]\r\n[PRIVATE ]\r\nkept\r\n", "[A]\r\n[PRIVATE ]\r\nkept\r\n"},
      {"", ""},
      // Nothing after a zero byte is read, and nothing of it is kept.
      {"[A]\r\nk=v\r\n\0x\r\n[PRIVATE]\r\nsecret\r\n"s, "[A]\r\nk=v\r\n"},
      {"[A]\r\nk=v\0w\r\n[PRIVATE]\r\nsecret\r\n"s, "[A]\r\nk=v"},
  };
  for (const auto& c : cases) {
    Doc doc(c.text);
    doc.SelectSection("A");
    doc.TruncateAtSection("PRIVATE");
    EXPECT_EQ(c.kept, doc.Str()) << c.text;
    EXPECT_EQ("<none>", doc.Get("k")) << "no section is selected after a cut";
  }
}

TEST(Script, LoadFromPayload) {
  const struct {
    const char* what;
    test::Image image;
    const char* loaded;  // null: "Missing BLOB: Setup.ini" under "Bug"
  } cases[] = {
      {"capitals, after a folder of that name",
       test::Image().Folder("Setup.ini").File("SETUP.INI", "a").File("Setup.ini", "b").End(), "a"},
      {"packed", test::Image().Record(BLOB_FILE, "Setup.ini", {0x78, 0xDF, 0x88, 0x01}, 6).End(),
       "xxxxxx"},
      {"empty", test::Image().File("setup.ini", "").End(), ""},
      {"none", test::Image().File("Setup.txt", "x").End(), nullptr},
      {"in a folder", test::Image().File("bin\\Setup.ini", "x").End(), nullptr},
      {"end first", test::Image().End().File("Setup.ini", "x"), nullptr},
      {"no payload", test::Image(), nullptr},
      {"damaged", test::Image().Record(BLOB_FILE, "Setup.ini", {0xDF, 0x05, 0x41}, 9).End(),
       nullptr},
  };
  for (const auto& c : cases) {
    test::OwnFile own(c.image.bytes);
    ClearError();
    Doc doc("old");
    EXPECT_EQ(c.loaded != nullptr, doc.LoadFromPayload("Setup.ini")) << c.what;
    EXPECT_EQ(c.loaded ? c.loaded : "", doc.Str()) << c.what;
    EXPECT_EQ(c.loaded ? ": " : "Bug: Missing BLOB: Setup.ini", test::Report()) << c.what;
  }
}

TEST(Script, SaveToFile) {
  test::TempFolder temp;
  Doc doc("[A]\r\nbytes \x80\xFF\r\n");
  test::WriteFile(temp / "Setup.ini", test::B("an older and longer file"));
  EXPECT_TRUE(doc.SaveToFile((temp / "Setup.ini").c_str()));
  EXPECT_EQ(doc.Str(), test::ReadFile(temp / "Setup.ini"));
  EXPECT_TRUE(Doc("").SaveToFile((temp / "empty.ini").c_str()));
  EXPECT_EQ("", test::ReadFile(temp / "empty.ini"));
  EXPECT_FALSE(doc.SaveToFile((temp / "missing/Setup.ini").c_str()));
}

}  // namespace
