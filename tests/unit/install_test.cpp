// The installation on the host: folder macros against the registry table,
// path texts, the install folder checks and the extraction, through the
// POSIX backend (backslashes become folders). Host only.
#include <gtest/gtest.h>

#include <string>

#include "install/extract.h"
#include "install/install_checks.h"
#include "install/install_paths.h"
#include "platform/registry.h"
#include "script/folder_macros.h"
#include "support.h"
#include "ui/web_address.h"

using namespace popbox;
using test::Report;

namespace {

const char kShell[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string kHint =
    "\n\nIf you are trying to upgrade a Quorvane\napplication, first uninstall the old "
    "application\n(run it and click File | Uninstall).";

// The registry table with the four folders, and a buffer of exactly
// NAME_BUFFER_SIZE heap bytes.
struct Machine {
  Machine(const std::string& programFiles = "C:\\Program Files") {
    ClearRegistryTable();
    SetRegistryTableString(RegistryRoot::LocalMachine,
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                           programFiles.c_str());
    SetRegistryTableString(RegistryRoot::CurrentUser, kShell, "Desktop", "C:\\Users\\u\\Desktop");
    SetRegistryTableString(RegistryRoot::CurrentUser, kShell, "Programs", "C:\\Users\\u\\Programs");
    SetRegistryTableString(RegistryRoot::CurrentUser, kShell, "Personal",
                           "C:\\Users\\u\\Documents");
    ClearError();
  }
};

std::string Expand(const std::string& text, bool* ok = nullptr) {
  std::vector<char> buffer(NAME_BUFFER_SIZE);
  memcpy(buffer.data(), text.c_str(), text.size() + 1);
  bool result = ExpandFolderMacros(buffer.data());
  if (ok) *ok = result;
  return buffer.data();
}

// Expansions of up to 259 characters.
TEST(FolderMacros, ExpandsFromTheRegistry) {
  const std::string x243(243, 'x');
  const struct {
    std::string text;
    std::string expanded;  // the text, or what is left of it after a report
    const char* report;
  } cases[] = {
      {"no macro", "no macro", ": "},
      {"a <b", "a <b", ": "},
      {"<Program Files>\\App", "C:\\Program Files\\App", ": "},
      {"<Desktop><Programs Menu>|<My Documents>",
       "C:\\Users\\u\\DesktopC:\\Users\\u\\Programs|C:\\Users\\u\\Documents", ": "},
      {"x<program files>\\App", "x", "Bug: Macro Unknown: program files"},
      {"<>", "", "Bug: Macro Unknown: "},
      {"<Desktop>\\<<Desktop>", "C:\\Users\\u\\Desktop\\", "Bug: Macro Unknown: <Desktop"},
      {"<Start Menu>", "", "Bug: Macro Unknown: Start Menu"},
      {"<Program Files>" + x243, "C:\\Program Files" + x243, ": "},
      {"<Program Files>x" + x243, "", "Bug: String Overflow"},
  };
  for (const auto& c : cases) {
    Machine machine;
    bool ok = false;
    EXPECT_EQ(c.expanded, Expand(c.text, &ok)) << c.text;
    EXPECT_EQ(c.report, Report()) << c.text;
    EXPECT_EQ(ok, c.report == std::string(": ")) << c.text;
  }
  Machine machine("C:\\<Desktop>");
  EXPECT_EQ("C:\\<Desktop>", Expand("<Program Files>")) << "a folder's own text is not expanded";
  SetRegistryTableString(RegistryRoot::CurrentUser, kShell, "Programs", nullptr);
  Expand("<Programs Menu>");
  EXPECT_EQ("Bug: Macro Undefined: Programs Menu", Report());
}

TEST(InstallPaths, Texts) {
  const struct {
    const char* typed;
    const char* normalized;
    bool absolute;
  } folders[] = {
      {" \tC:\\Apps\\Viewer\\ ", "C:\\Apps\\Viewer", true},
      {"C:\\", "C:", false},
      {"C:\\Apps\\\\", "C:\\Apps\\", false},
      {"c:\\apps", "c:\\apps", true},
      {"z:\\A", "z:\\A", true},
      {"C:apps", "C:apps", false},
      {"C:/apps", "C:/apps", false},
      {"1:\\apps", "1:\\apps", false},
      {"\\apps", "\\apps", false},
      {"Apps\\Viewer", "Apps\\Viewer", false},
      {"\\\\server\\share\\apps", "\\\\server\\share\\apps", true},
      {"\\\\server\\share", "\\\\server\\share", false},
      {"C:\\Apps/", "C:\\Apps/", true},
  };
  for (const auto& f : folders) {
    std::string text = f.typed;
    NormalizeInstallDir(&text[0]);
    EXPECT_STREQ(f.normalized, text.c_str()) << f.typed;
    EXPECT_EQ(f.absolute, IsAbsolutePath(text.c_str())) << f.typed;
  }
  const char* parents[][2] = {{"C:\\Apps\\Viewer\\Viewer.exe", "C:\\Apps\\Viewer"},
                              {"C:\\Viewer.exe", "C:\\"},
                              {"\\Viewer.exe", "\\"},
                              {"Viewer.exe", ""},
                              {"\\\\server\\share\\V.exe", "\\\\server\\share"}};
  for (auto& p : parents) {
    std::string text = p[0];
    ParentFolderOf(&text[0]);
    EXPECT_STREQ(p[1], text.c_str()) << p[0];
  }
  char target[NAME_BUFFER_SIZE];
  std::string folder(250, 'f');
  EXPECT_TRUE(ComposePath(target, folder.c_str(), "12345678"));  // 259
  EXPECT_EQ(folder + "\\12345678", target);
  EXPECT_FALSE(ComposePath(target, folder.c_str(), "123456789"));
  const char* web[][2] = {{" shop.example ", "http://shop.example"},
                          {"https://a", "https://a"},
                          {"http://a", "http://a"},
                          {"HTTP://a", "http://HTTP://a"},
                          {"ftp://a", "http://ftp://a"},
                          {" ", ""}};
  for (auto& w : web) {
    char text[WEB_ADDRESS_SIZE];
    strcpy(text, w[0]);
    NormalizeWebAddress(text);
    EXPECT_STREQ(w[1], text) << w[0];
  }
}

TEST(InstallPaths, RecordNames) {
  for (const char* name : {"a.txt", "bin\\sub\\a", "bin/a", "a b", ".hidden", "x..y", "COM10",
                           "CONSOLE.txt", "LPT0", "COM\xB4"}) {
    EXPECT_TRUE(IsSafeRecordName(name)) << name;
  }
  // clang-format off
  for (const char* name : {"", "..\\x", "sub\\..\\..\\x", "sub/../../x", "\\x", "/x", "C:\\x",
                           "x:stream", "a\\\\b", "a\\", ".", "x.", "x ", "a\\..", "CON", "con.txt",
                           "NUL .txt", "aux", "COM1", "lpt9.log", "bin\\PRN", "COM\xB9",
                           "lpt\xB2.txt", "a\\Com\xB3 .x"}) {
    // clang-format on
    EXPECT_FALSE(IsSafeRecordName(name)) << name;
  }
}

class OnDisk : public ::testing::Test {
 protected:
  void SetUp() override { theScript.LoadFromText(kScript.data(), int32_t(kScript.size())); }
  void TearDown() override { theScript.Clear(); }
  std::string Win(const std::string& rel) { return temp.path + "\\" + rel; }
  bool Extract(const test::Image& image, const char* store = "", const char* web = "") {
    test::OwnFile own(image.bytes);
    ClearError();
    return ExtractPayload(Win("App").c_str(), store, web);
  }
  std::string Read(const std::string& rel) { return test::ReadFile(temp / rel); }
  Machine machine;
  test::TempFolder temp;
  std::string kScript = "[Vendor]\r\nName=\r\nURL=\r\n[Install]\r\nStartProgramsLink=" + temp.path +
                        "\\Start.lnk\r\nDesktopLink=" + temp.path +
                        "\\Desk.lnk\r\n[PRIVATE]\r\nsecret\r\n";
};

TEST_F(OnDisk, CheckTargetsFree) {
  EXPECT_TRUE(CheckTargetsFree(Win("App").c_str()));
  EXPECT_EQ(": ", Report());
  test::WriteFile(temp / "File", {});
  EXPECT_FALSE(CheckTargetsFree(Win("File").c_str()));
  EXPECT_EQ("Cannot Install: The folder you specified already exists." + kHint, Report());
  test::WriteFile(temp / "Desk.lnk", {});
  ClearError();
  EXPECT_FALSE(CheckTargetsFree(Win("App").c_str()));
  EXPECT_EQ("Cannot Install: Cannot overwrite shortcuts." + kHint, Report());
  std::string noDesktop = "[Install]\r\nStartProgramsLink=<Desktop>\r\n";
  theScript.LoadFromText(noDesktop.data(), int32_t(noDesktop.size()));
  EXPECT_FALSE(CheckTargetsFree(Win("File").c_str())) << "the folder is checked first";
  EXPECT_EQ("Cannot Install: The folder you specified already exists." + kHint, Report());
  EXPECT_FALSE(CheckTargetsFree(Win("App").c_str()));
  EXPECT_EQ("Bug: INI Symbol Undefined: DesktopLink", Report());
}

// The folder, a backslash and the longest record name or LinkTarget (as
// expanded) make at most 259 characters. Only a longer folder is reported.
TEST_F(OnDisk, CheckFolderFits) {
  const std::string record(20, 'r');
  const struct {
    const char* what;
    test::Image image;
    std::string script;
    size_t folder;  // the longest that fits
  } cases[] = {
      {"a record", test::Image().File("Setup.ini", "").File(record, "").End(),
       "[Install]\r\nLinkTarget=Setup.ini\r\n", 238},
      {"LinkTarget", test::Image().File(record, "").End(),
       "[Install]\r\nLinkTarget=<Desktop>\\" + std::string(12, 'l') + "\r\n", 227},
      {"no LinkTarget, damage after a record", test::Image().File(record, "").Header(0, 0, 0, 0, 1),
       "[Install]\r\n", 238},
      {"the end record's name", test::Image().Record(BLOB_END, record, {}), "[Install]\r\n", 258},
  };
  for (const auto& c : cases) {
    test::OwnFile own(c.image.bytes);
    theScript.LoadFromText(c.script.data(), int32_t(c.script.size()));
    theScript.SelectSection("Install");
    for (size_t n : {c.folder, c.folder + 1}) {
      ClearError();
      std::string folder(n, 'f');
      EXPECT_EQ(n == c.folder, CheckFolderFits(folder.c_str())) << c.what << " " << n;
      EXPECT_EQ(n == c.folder ? ": "
                              : "Cannot Install: " + folder +
                                    "\nis too long. Please choose a shorter folder.",
                Report())
          << c.what << " " << n;
    }
  }
}

TEST_F(OnDisk, CreateFolderTree) {
  std::string path = Win("One\\Two\\Three");
  EXPECT_TRUE(CreateFolderTree(&path[0]));
  EXPECT_EQ(Win("One\\Two\\Three"), path) << "the buffer is restored";
  EXPECT_TRUE(test::fs::is_directory(temp / "One/Two/Three"));
  EXPECT_TRUE(CreateFolderTree(&path[0]));
  test::WriteFile(temp / "File", {});
  for (const char* blocked : {"File", "File\\Sub\\Deeper"}) {
    path = Win(blocked);
    EXPECT_FALSE(CreateFolderTree(&path[0])) << blocked;
  }
  EXPECT_FALSE(test::fs::exists(temp / "File/Sub"));
}

// The file calls never follow a link: a folder swapped for a link between
// two calls stops the next one, and nothing lands where the link leads. A
// name made behind the back of the host's name index is found once the
// folder's time stamps moved.
TEST_F(OnDisk, NeverThroughALink) {
  test::fs::create_directories(temp / "elsewhere/sub");
  test::WriteFile(temp / "elsewhere/x.txt", {});
  ASSERT_TRUE(MakeFolder(Win("App").c_str()) && MakeFolder(Win("App\\Docs").c_str()));
  FileHandle file = CreateForWriting(Win("App\\docs\\b.txt").c_str());
  ASSERT_NE(INVALID_FILE, file);
  CloseFile(file);
  test::fs::rename(temp / "App/Docs", temp / "moved");
  test::fs::create_directory_symlink(temp / "elsewhere", temp / "App/Docs");
  bool isFolder = false;
  const struct {
    const char* call;
    bool done;
  } cases[] = {
      {"write", (file = CreateForWriting(Win("App\\docs\\a.txt").c_str())) != INVALID_FILE},
      {"make a folder", MakeFolder(Win("App\\Docs\\new").c_str())},
      {"ask", QueryPath(Win("App\\DOCS\\sub").c_str(), &isFolder)},
      {"remove", RemoveFile(Win("App\\docs\\x.txt").c_str())},
  };
  for (const auto& c : cases) EXPECT_FALSE(c.done) << c.call;
  if (file != INVALID_FILE) CloseFile(file);
  std::string there;
  for (const auto& e : test::fs::directory_iterator(temp / "elsewhere"))
    there += e.path().filename().string() + " ";
  EXPECT_TRUE(there == "sub x.txt " || there == "x.txt sub ") << there;
  test::fs::create_directory(temp / "App/Other");
  // The stamps move by the file system's tick, which this test may not see pass.
  test::fs::last_write_time(temp / "App", test::fs::file_time_type());
  EXPECT_TRUE(QueryPath(Win("App\\OTHER").c_str(), &isFolder) && isFolder);
}

TEST_F(OnDisk, ExtractsEveryRecord) {
  test::fs::create_directory(temp / "App");
  test::Image image;
  image.File("setup.INI", "its own bytes are never written")
      .Folder("bin")
      .File("bin\\a.txt", "a \xDF\r\n")
      .Record(BLOB_FILE, "bin\\packed.txt", {0x78, 0xDF, 0x88, 0x01}, 6)
      .File("empty.txt", "")
      .Folder("bin\\Setup.ini")
      .File("bin\\Setup.ini\\Setup.ini", "a script in a folder is a file")
      .End()
      .File("after.txt", "after the end");
  EXPECT_TRUE(Extract(image, "Corner Shop", "http://shop.example"));
  EXPECT_EQ(": ", Report());
  EXPECT_EQ(
      "[Vendor]\r\nName=Corner Shop\r\nURL=http://shop.example\r\n[Install]\r\nStartProgramsLink=" +
          temp.path + "\\Start.lnk\r\nDesktopLink=" + temp.path + "\\Desk.lnk\r\n",
      Read("App/setup.INI"));
  EXPECT_EQ("a \xDF\r\n", Read("App/bin/a.txt"));
  EXPECT_EQ("xxxxxx", Read("App/bin/packed.txt"));
  EXPECT_EQ("", Read("App/empty.txt"));
  EXPECT_EQ("a script in a folder is a file", Read("App/bin/Setup.ini/Setup.ini"));
  EXPECT_FALSE(test::fs::exists(temp / "App/after.txt"));
  EXPECT_EQ(std::string(kScript), std::string(theScript.Text(), theScript.Length()))
      << "theScript itself is not changed";
}

TEST_F(OnDisk, SavedScriptKeepsWhatTheStoreDoesNotFill) {
  const struct {
    const char* script;
    const char* store;
    const char* saved;
  } cases[] = {
      {"[Vendor]\r\nName=old\r\nURL=u\r\n", "", "[Vendor]\r\nName=old\r\nURL=u\r\n"},
      {"[Vendor]\r\nName=\r\n", "Shop", "[Vendor]\r\nName=Shop\r\n"},
      {"[Install]\r\nName=\r\n", "Shop", "[Install]\r\nName=\r\n"},
      {"[Vendor]\r\nURL=\r\n[private]\r\nx", "Shop", "[Vendor]\r\nURL=http://a\r\n"},
  };
  for (const auto& c : cases) {
    test::fs::remove_all(temp / "App");
    test::fs::create_directory(temp / "App");
    theScript.LoadFromText(c.script, int32_t(strlen(c.script)));
    EXPECT_TRUE(
        Extract(test::Image().File("Setup.ini", "x").End(), c.store, *c.store ? "http://a" : ""));
    EXPECT_EQ(c.saved, Read("App/Setup.ini")) << c.script;
  }
}

TEST_F(OnDisk, StopsAtTheFirstFailure) {
  std::string app = Win("App");
  const struct {
    const char* what;
    test::Image image;
    std::string report;
    const char* kept;  // a file written before the failure, or ""
  } cases[] = {
      {"folder twice",
       test::Image().Folder("d").File("a.txt", "a").Folder("d").File("b.txt", "b").End(),
       "Cannot Install: Can't create directory " + app + "\\d", "a.txt"},
      {"unknown type", test::Image().File("a.txt", "a").Record(3, "b.txt", test::B("b")).End(),
       "Bug: Unknown BLOB Type", "a.txt"},
      {"damaged", test::Image().File("a.txt", "a").Record(2, "b.txt", {0xDF, 0x05, 0x41}, 9).End(),
       "Bug: File Corrupted. Can't Read BLOBs.", "a.txt"},
      {"no end", test::Image().File("a.txt", "a"), "Bug: File Corrupted. Can't Read BLOBs.",
       "a.txt"},
      {"escape", test::Image().File("a.txt", "a").File("sub\\..\\..\\x", "x").End(),
       "Bug: Bad BLOB Name: sub\\..\\..\\x", "a.txt"},
      {"device", test::Image().File("aux.txt", "x").End(), "Bug: Bad BLOB Name: aux.txt", ""},
      {"too long",
       test::Image().File("a.txt", "a").File(std::string(259 - app.size(), 'n'), "x").End(),
       "Bug: Path Too Long: " + std::string(259 - app.size(), 'n'), "a.txt"},
      {"cannot create", test::Image().File("a.txt", "a").File("a.txt\\b", "b").End(),
       "Cannot Install: Can't create file " + app + "\\a.txt\\b", "a.txt"},
  };
  for (const auto& c : cases) {
    test::fs::remove_all(temp / "App");
    test::fs::create_directory(temp / "App");
    EXPECT_FALSE(Extract(c.image)) << c.what;
    EXPECT_EQ(c.report, Report()) << c.what;
    EXPECT_EQ(*c.kept ? "a" : "<missing>", Read("App/a.txt")) << c.what;
    EXPECT_EQ("<missing>", Read("App/b.txt")) << c.what;
  }
  thePayload = PayloadStream(INVALID_FILE);
  EXPECT_FALSE(ExtractPayload(app.c_str(), "", ""));
  EXPECT_EQ("Bug: File Corrupted. Can't Find BLOBs.", Report());
  thePayload = PayloadStream();
}

}  // namespace
