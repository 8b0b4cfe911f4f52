// popbox check: each defect of a package gives its line-numbered message;
// errors exit with 1 and make pack write nothing, warnings do neither.
#include "tests/packer/packer_test_support.h"

namespace popbox_packer_test {
namespace {

using CheckTest = PackerTest;

// GoodScript with one line replaced (or removed, when `with` is empty).
std::string Edit(const std::string& line, const std::string& with) {
  std::string script = GoodScript();
  size_t at = script.find(line);
  EXPECT_NE(at, std::string::npos) << line;
  size_t end = script.find("\r\n", at) + 2;
  return script.substr(0, at) + (with.empty() ? "" : with + "\r\n") + script.substr(end);
}

struct Defect {
  const char* what;
  std::string script;
  std::string expected;  // "Setup.ini:LINE: error: ..." or warning, a prefix of the message
};

void ExpectFindings(CheckTest& t, const std::vector<Defect>& defects, bool errors) {
  for (const Defect& d : defects) {
    SCOPED_TRACE(d.what);
    WriteText(t.app_ / "Setup.ini", d.script);
    fs::path setup = t.out_ / "setup.exe";
    fs::remove(setup);
    EXPECT_EQ(t.Popbox({"check", t.app_.string()}), errors ? 1 : 0) << t.err_text_;
    EXPECT_NE(t.err_text_.find((t.app_ / d.expected).string()), std::string::npos) << t.err_text_;
    EXPECT_EQ(t.StderrLines(), 1u) << t.err_text_;
    EXPECT_EQ(t.Pack(t.app_, setup), errors ? 1 : 0);
    EXPECT_EQ(fs::exists(setup), !errors);
  }
}

TEST_F(CheckTest, AGoodFolderPasses) {
  ASSERT_EQ(Popbox({"check", app_.string()}), 0) << err_text_;
  EXPECT_EQ(err_text_, "");
  EXPECT_EQ(out_text_, app_.string() + ": 0 errors, 0 warnings; 2 files, 0 folders\n");
}

// Every "Bug" message the setup can show because of the package.
TEST_F(CheckTest, CatchesEveryBugMessageAPackageCanCause) {
  std::vector<Defect> errors = {
      {"Missing BLOB: Setup.ini", "", ""},  // the file is removed below
      {"INI Symbol Undefined", Edit("LinkTarget=", ""),
       "Setup.ini:5: error: [Install] has no LinkTarget; the setup would stop with \"INI Symbol "
       "Undefined: LinkTarget\""},
      {"Macro Unknown, other case", Edit("DesktopLink=", "DesktopLink=<desktop>\\Example.lnk"),
       "Setup.ini:11: error: the folder macro <desktop> is written in other case than <Desktop>; "
       "macro names must match exactly (the setup would stop with \"Macro Unknown: desktop\")"},
      {"Macro Unknown, not in the table", Edit("DefaultAppDir=", "DefaultAppDir=<AppData>\\x"),
       "Setup.ini:8: error: the folder macro <AppData> is unknown; the setup knows <Program "
       "Files>, <Desktop>, <Programs Menu> and <My Documents> (it would stop with \"Macro "
       "Unknown: AppData\")"},
  };
  // Missing Setup.ini first: its own arrangement.
  fs::remove(app_ / "Setup.ini");
  EXPECT_EQ(Popbox({"check", app_.string()}), 1);
  EXPECT_EQ(err_text_, (app_ / "Setup.ini").string() +
                           ": error: is missing; every application folder needs one (the setup "
                           "would stop with \"Missing BLOB: Setup.ini\")\n");
  errors.erase(errors.begin());
  ExpectFindings(*this, errors, true);

  std::vector<Defect> warnings = {
      {"String Overflow",
       Edit("StartProgramsLink=",
            "StartProgramsLink=<Programs Menu>\\" + std::string(180, 's') + ".lnk"),
       "Setup.ini:9: warning: StartProgramsLink expands to more than 259 characters with typical "
       "folders"},
  };
  ExpectFindings(*this, warnings, false);

  // "Bad BLOB Name: " and "Path Too Long: " come from names: the first is
  // refused (see the name tests in pack_test.cpp), the second warned about.
  WriteText(app_ / "Setup.ini", GoodScript());
  fs::path deep = app_ / std::string(100, 'a') / std::string(100, 'b');
  fs::create_directories(deep);
  WriteText(deep / "file.txt", "x");
  EXPECT_EQ(Popbox({"check", app_.string()}), 0);
  EXPECT_NE(err_text_.find(std::string(100, 'b') +
                           ": warning: with an install folder of 63 characters (C:\\Program Files "
                           "(x86)\\ and 40 more), its path would be 265 characters, more than "
                           "259; the setup would stop with \"Path Too Long: " +
                           std::string(100, 'a') + "\\" + std::string(100, 'b') + "\""),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(StderrLines(), 1u) << err_text_;  // the folder, not also the file inside
}

TEST_F(CheckTest, ScriptErrors) {
  fs::create_directories(app_ / "bin");
  std::vector<Defect> errors = {
      {"no [Install]", "[Vendor]\r\nName=x\r\n", "Setup.ini: error: there is no [Install] section"},
      {"LinkTarget names no file", Edit("LinkTarget=", "LinkTarget=viewer.exe"),
       "Setup.ini:13: error: LinkTarget \"viewer.exe\" is not a file of the application folder"},
      {"LinkTarget names a folder", Edit("LinkTarget=", "LinkTarget=bin"),
       "Setup.ini:13: error: LinkTarget \"bin\" is a folder"},
      {"LinkTarget climbs out", Edit("LinkTarget=", "LinkTarget=..\\readme.txt"),
       "Setup.ini:13: error: LinkTarget \"..\\readme.txt\" must be a path relative"},
      {"LinkTarget empty", Edit("LinkTarget=", "LinkTarget="),
       "Setup.ini:13: error: LinkTarget is empty"},
      {"a path longer than the setup reads",
       Edit("DefaultAppDir=", "DefaultAppDir=C:\\" + std::string(300, 'x')),
       "Setup.ini:8: error: DefaultAppDir is 303 characters long; the setup reads only the first "
       "259"},
  };
  ExpectFindings(*this, errors, true);
}

TEST_F(CheckTest, ScriptWarnings) {
  std::string vendorWithoutUrl = Edit("Name=Example Corp", "Name=");
  vendorWithoutUrl = vendorWithoutUrl.substr(0, vendorWithoutUrl.find("URL=")) +
                     vendorWithoutUrl.substr(vendorWithoutUrl.find("URL=") + 6);
  std::vector<Defect> warnings = {
      {"no Title", Edit("Title=", ""), "Setup.ini:5: warning: [Install] has no Title"},
      {"no AppDirCaption", Edit("AppDirCaption=", ""),
       "Setup.ini:5: warning: [Install] has no AppDirCaption"},
      {"store layout without URL", vendorWithoutUrl,
       "Setup.ini:1: warning: the store layout (an empty Name) asks for the store's web address, "
       "but [Vendor] has no URL key"},
      {"long installed message", GoodScript() + std::string(2100, 'm') + "\r\n",
       "Setup.ini:15: warning: [Installed Message] is 2123 characters long; the setup shows only "
       "the first 2047"},
      {"[PRIVATE] not last", GoodScript() + "[PRIVATE]\r\nnotes\r\n[Later]\r\n",
       "Setup.ini:19: warning: [Later] follows [PRIVATE] (line 17); the installed copy of "
       "Setup.ini ends before [PRIVATE]"},
      {"typo in a key", Edit("DesktopLinkSelected=", "DesktopLinkSelcted=no"),
       "Setup.ini:12: warning: [Install] DesktopLinkSelcted is never read by the setup; did you "
       "mean DesktopLinkSelected?"},
      {"key in the wrong section", Edit("URL=", "Title=x"),
       "Setup.ini:3: warning: [Vendor] Title is never read by the setup; it belongs in "
       "[Install]"},
      {"indented key", Edit("Title=", "Title=x\r\n Title=y"),
       "Setup.ini:7: warning: the key Title is indented"},
      {"second section", GoodScript() + "[Install]\r\nTitle=y\r\n",
       "Setup.ini:17: warning: a second [Install] section; the setup reads only the first, on "
       "line 5"},
      {"second key", Edit("AppDirCaption=", "AppDirCaption=a\r\nAppDirCaption=b"),
       "Setup.ini:8: warning: a second AppDirCaption in [Install]; the setup reads only the "
       "first, on line 7"},
      {"relative install folder", Edit("DefaultAppDir=", "DefaultAppDir=Example"),
       "Setup.ini:8: warning: DefaultAppDir gives \"Example\", which is not an absolute folder"},
      {"shortcut without .lnk", Edit("DesktopLink=", "DesktopLink=<Desktop>\\Example"),
       "Setup.ini:11: warning: DesktopLink does not end in .lnk"},
      {"UTF-8 text", Edit("Title=", "Title=Café Setup"),
       "Setup.ini:6: warning: holds UTF-8 text; the setup reads Setup.ini in code page 1252 and "
       "would show \"Title=CafÃ© Setup\""},
  };
  ExpectFindings(*this, warnings, false);
}

}  // namespace
}  // namespace popbox_packer_test
