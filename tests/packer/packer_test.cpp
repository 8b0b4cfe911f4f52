// The popbox command line: pack, check, list, verify and extract, run as the
// author runs them.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "packer/exclusions.h"
#include "support.h"

using namespace popbox;
using namespace test;

namespace {

TEST_F(Packer, PacksInOrderAndByteExact) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i % 7) + " of the readme\n";
  std::string escapes(500, '\xDF');
  fs::remove(app + "/readme.txt");
  WriteFile(app + "/Readme.TXT", B(text));  // LinkTarget ignores case
  WriteFile(app + "/a.bin", Random(3000, 1));
  fs::create_directories(app + "/b/inner");
  WriteFile(app + "/b/empty.txt", {});
  WriteFile(app + "/b/inner/abcd.txt", B("abcd"));
  WriteFile(app + "/b/inner/esc.bin", B(escapes));
  fs::create_directories(app + "/z");
  ASSERT_EQ(0, Pack(setup)) << err;
  EXPECT_EQ("", err) << "a good folder gets no warning";

  const struct {
    uint32_t type;
    const char* name;
    const char* source;  // null for folders and the end
    int stored;          // -1: smaller than the contents
  } expected[] = {
      {BLOB_FILE, "Setup.ini", "Setup.ini", -1},
      {BLOB_FILE, "Readme.TXT", "Readme.TXT", -1},
      {BLOB_FILE, "a.bin", "a.bin", 3000},
      {BLOB_FOLDER, "b", nullptr, 0},
      {BLOB_FILE, "b\\empty.txt", "b/empty.txt", 0},
      {BLOB_FOLDER, "b\\inner", nullptr, 0},
      {BLOB_FILE, "b\\inner\\abcd.txt", "b/inner/abcd.txt", 4},
      {BLOB_FILE, "b\\inner\\esc.bin", "b/inner/esc.bin", -1},
      {BLOB_FOLDER, "z", nullptr, 0},
      {BLOB_END, "", nullptr, 0},
  };
  std::vector<Record> records = ReadSetup(setup);
  ASSERT_EQ(std::size(expected), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& e = expected[i];
    EXPECT_EQ(e.type, records[i].type) << e.name;
    EXPECT_EQ(e.name, records[i].name);
    EXPECT_EQ(e.source ? ReadFile(app + "/" + e.source) : "", records[i].contents) << e.name;
    if (e.stored >= 0) {
      EXPECT_EQ(uint32_t(e.stored), records[i].packedSize) << e.name;
    } else {
      EXPECT_LT(records[i].packedSize, records[i].contents.size()) << e.name;
    }
  }
  EXPECT_EQ(ReadFile(stub), ReadFile(setup).substr(0, PAYLOAD_OFFSET));
  for (const char* jobs : {"1", "3"}) {  // the bytes depend on the folder alone
    ASSERT_EQ(0, Pack(temp / "again.exe", {"--jobs", jobs}));
    EXPECT_TRUE(ReadFile(setup) == ReadFile(temp / "again.exe")) << jobs << " jobs";
  }
  ASSERT_EQ(0, Pack(temp / "stored.exe", {"--store"}));
  for (const Record& r : ReadSetup(temp / "stored.exe")) EXPECT_EQ(r.contents.size(), r.packedSize);
}

// The setup is written outside the folder it packs, and an earlier one left
// inside is pointed out: it would be packed into the next.
TEST_F(Packer, OutputOutsideTheFolder) {
  for (const char* inside : {"readme.txt", "Setup.ini", "new.exe", "./new.exe"}) {
    EXPECT_TRUE(Says(1, {"pack", app, "-o", app + "/" + inside, "--stub", stub},
                     "lies inside the application folder " + app));
  }
  EXPECT_EQ("Read me.\r\n", ReadFile(app + "/readme.txt"));
  EXPECT_EQ(GoodScript(), ReadFile(app + "/Setup.ini"));
  EXPECT_FALSE(fs::exists(app + "/new.exe"));
  ASSERT_EQ(0, Pack(setup));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::perms(0755 & ~mask), fs::status(setup).permissions() & fs::perms::all);
  fs::copy_file(setup, app + "/old.exe");
  EXPECT_TRUE(Says(0, {"check", app}, "old.exe: warning: is a popbox setup itself"));
  fs::remove(app + "/old.exe");

  // Outputs pack refuses before any work, leaving what is there as it was:
  // nothing but a regular file is replaced, and none of pack's inputs.
  fs::create_directories(temp / "dir");
  mkfifo((temp / "fifo").c_str(), 0666);
  fs::create_symlink(setup, temp / "link.exe");
  WriteFile(temp / "icon.ico", B("icon"));
  bool root = mknod((temp / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  const struct {
    std::string output;
    const char* refusal;
  } outputs[] = {
      {temp / "none/x.exe", "cannot be written: the folder"},
      {temp / "dir", "is a folder; name the setup to write in it, as"},
      {temp / "dir/", "is a folder"},
      {temp / "fifo", "exists and is not a regular file"},
      {root ? temp / "full" : temp / "fifo", "exists and is not a regular file"},
      {temp / "link.exe", "is a symbolic link"},
      {stub, "is the stub pack reads"},
      {temp / "icon.ico", "is the icon pack reads"},
  };
  for (const auto& o : outputs) {
    auto before = fs::symlink_status(o.output).type();
    EXPECT_TRUE(Says(1, {"pack", app, "-o", o.output, "--stub", stub, "--icon", temp / "icon.ico"},
                     o.output + ": error: " + o.refusal));
    EXPECT_EQ(before, fs::symlink_status(o.output).type()) << o.output;
  }
  EXPECT_EQ(FakeStub(), B(ReadFile(stub)));
}

TEST_F(Packer, NamesInTheCodePage) {
  fs::create_directories(app + "/Überblick");
  WriteFile(app + "/Überblick/Café €.txt", B("x"));
  ASSERT_EQ(0, Pack(setup)) << err;
  EXPECT_EQ(std::string("\xDC") + "berblick\\Caf\xE9 \x80.txt", ReadSetup(setup)[3].name);
  EXPECT_TRUE(Says(0, {"list", setup}, " Überblick\\Café €.txt\n"));
  ASSERT_EQ(0, Popbox({"extract", setup, temp / "x"})) << err;
  std::map<std::string, std::string> want = Tree(app), got = Tree(temp / "x");
  EXPECT_NE(want["Setup.ini"], "");
  want.erase("Setup.ini"), got.erase("Setup.ini");
  EXPECT_EQ(want, got) << "extract writes the folder again, names in UTF-8";
  const std::string folder = app + "/" + std::string(200, 'd');
  fs::create_directories(folder);
  WriteFile(folder + "/" + std::string(53, 'f'), B("254 bytes"));
  ASSERT_EQ(0, Pack(setup)) << err;
  WriteFile(folder + "/" + std::string(54, 'f'), B("255 bytes"));
  WriteFile(app + "/中.txt", B("not in 1252"));
  EXPECT_TRUE(Says(1, {"pack", app, "-o", setup, "--stub", stub},
                   std::string(54, 'f') + ": error: its record name is 255 bytes, more than 254: "
                                          "it leaves 3 characters of 259 for the install folder"));
  EXPECT_NE(std::string::npos, err.find("the character U+4E2D")) << err;
}

// One run of pack names every culprit, exits with 1 and writes nothing.
TEST_F(Packer, RefusalsNameTheCulprit) {
  std::string script = GoodScript();
  WriteFile(app + "/Setup.ini", B(script.replace(script.find("readme.txt"), 6, "nothing")));
  WriteFile(app + "/\xC3\xA9lan", B("1"));
  for (const char* name :
       {"a\\b.txt", "what?.txt", "aux.txt", "x.", "x ", "README.txt", "\xC3\x89lan"})
    WriteFile(app + "/" + name, B("2"));
  WriteFile(setup, B("earlier output"));
  EXPECT_EQ(1, Pack(setup)) << err;
  for (const char* named :
       {"Setup.ini:13: error: LinkTarget \"nothing.txt\"",
        "/a\\b.txt: error: its name contains a backslash",
        "/what?.txt: error: its name contains a character",
        "/aux.txt: error: its name is a Windows device", "/x.: error: its name ends in a dot",
        "/x : error: its name ends in a dot",
        "/readme.txt: error: differs from README.txt only in letter case",
        "/\xC3\xA9lan: error: differs from \xC3\x89lan only in letter case"}) {
    EXPECT_NE(std::string::npos, err.find(named)) << named << "\n" << err;
  }
  EXPECT_EQ("earlier output", ReadFile(setup));
  EXPECT_FALSE(Staged()) << "left behind";
  fs::remove_all(app);
  SetUp();
  for (Bytes bad : {Bytes(PAYLOAD_OFFSET, 0), Bytes(PAYLOAD_OFFSET - 1, 'M')}) {
    WriteFile(stub, bad);
    EXPECT_TRUE(Says(1, {"pack", app, "-o", setup, "--stub", stub}, "stub.exe: error"));
  }
  fs::remove(app + "/Setup.ini");
  EXPECT_TRUE(Says(1, {"pack", app, "-o", setup, "--stub", stub}, "Setup.ini: error: is missing"));
  EXPECT_EQ(2, Popbox({"pack", app}));
  EXPECT_EQ(2, Popbox({"frobnicate"}));
}

TEST_F(Packer, CheckFindsWhatTheSetupWouldStopOn) {
  const std::string below =
      "must name a file below the install folder, as app.exe or bin\\app.exe: ";
  const struct {
    std::string line;     // replaces the line of the same key, or is added
    std::string finding;  // "" for none
  } cases[] = {
      {"LinkTarget=readme.txt", ""},
      {"LinkTarget=", "Setup.ini:13: error: LinkTarget is empty"},
      {"LinkTarget=..\\readme.txt",
       "Setup.ini:13: error: LinkTarget \"..\\readme.txt\" " + below + "it climbs with"},
      {"LinkTarget=<Program Files>\\x.exe",
       "Setup.ini:13: error: LinkTarget \"<Program Files>\\x.exe\" " + below +
           "it is an absolute path (it expands to \"C:\\Program Files (x86)\\x.exe\")"},
      {"LinkTarget=bin\\COM1",
       "error: LinkTarget \"bin\\COM1\" " + below + "\"COM1\": its name is a Windows device name"},
      {"LinkTarget=Docs", "Setup.ini:13: error: LinkTarget \"Docs\" is a folder"},
      {"DesktopLink=<desktop>\\Example.lnk",
       "Setup.ini:11: error: the folder macro <desktop> is written in other case"},
      {"DefaultAppDir=<AppData>\\x", "Setup.ini:8: error: the folder macro <AppData> is unknown"},
      {"DefaultAppDir=Example", "Setup.ini:8: warning: DefaultAppDir gives \"Example\""},
      {"StartProgramsLink=<Programs Menu>\\" + std::string(200, 's') + ".lnk",
       "Setup.ini:9: warning: StartProgramsLink expands to more than 259"},
      {"DesktopLinkSelected=no\r\nDesktopLinkSelcted=no",
       "warning: [Install] DesktopLinkSelcted is never read by the setup; did you mean "
       "DesktopLinkSelected?"},
      {"Title=Caf\xC3\xA9", "Setup.ini:6: warning: holds UTF-8 text"},
      {"Title=x\r\n Title=y", "Setup.ini:7: warning: the key Title is indented"},
      {"Title=\xE4\xB8\xAD", "Setup.ini:6: error: holds UTF-8 text with the character U+4E2D"},
      {"StartProgramsLink=<Programs Menu>\\Co\\Example.lnk",
       "Setup.ini:9: error: StartProgramsLink \"<Programs Menu>\\Co\\Example.lnk\" puts the "
       "shortcut in a folder below <Programs Menu>; the setup makes no folder"},
      {"DesktopLink=C:\\Users\\Public\\Desktop\\A.lnk",
       "Setup.ini:11: error: DesktopLink \"C:\\Users\\Public\\Desktop\\A.lnk\" names a fixed "
       "folder, which a user's machine may not have; the setup makes no folder for a shortcut, "
       "so on a machine without it the install stops with \"Can't create link:\" after the "
       "files are written. Write <Desktop>\\A.lnk"},
      {"LinkTarget=bin/readme.txt", "Setup.ini:13: error: LinkTarget holds '/'"},
      {"DesktopLink=<Programs Menu>\\Example.lnk",
       "Setup.ini:11: error: StartProgramsLink and DesktopLink name the same file"},
      {"+[Installed Messages]",
       "Setup.ini:17: warning: [Installed Messages] is never read by the setup; did you mean "
       "[Installed Message]?"},
      {"+[ Install ]",
       "Setup.ini:17: warning: [ Install ] is not read as [Install]: the setup allows no blanks"},
      {"+[MyAppSettings]", ""},
  };
  fs::create_directories(app + "/docs");
  for (const auto& c : cases) {
    std::string key = c.line.substr(0, c.line.find('=') + 1), script = GoodScript();
    if (c.line[0] == '+') {  // a line added at the end
      script += c.line.substr(1) + "\r\n";
    } else {
      size_t at = script.find(key);
      script.replace(at, script.find("\r\n", at) - at, c.line);
    }
    WriteFile(app + "/Setup.ini", B(script));
    EXPECT_TRUE(Says(c.finding.find("error") != std::string::npos, {"check", app}, c.finding));
    EXPECT_TRUE(!c.finding.empty() || err.empty()) << c.line << ": " << err;
  }
}

// The way check tells to save Setup.ini in the code page works on Linux,
// from UTF-8 and from Notepad's UTF-16.
TEST_F(Packer, CheckTellsHowToConvert) {
  std::string script = GoodScript();
  script.replace(script.find("Example Setup"), 7, "Caf\xC3\xA9");
  std::string utf16 = "\xFF\xFE";
  for (char c : GoodScript()) utf16 += std::string(1, c) + '\0';
  for (const std::string& text : {script, utf16}) {
    WriteFile(app + "/Setup.ini", B(text));
    Popbox({"check", app});
    size_t at = err.find("on Linux iconv ");
    ASSERT_NE(std::string::npos, at) << err;
    std::string iconv = err.substr(at + 9, err.find(')', at) - at - 9);
    ASSERT_EQ(0, system((iconv + " " + app + "/Setup.ini >" + temp / "new.ini").c_str())) << iconv;
    fs::rename(temp / "new.ini", app + "/Setup.ini");
    EXPECT_EQ(0, Popbox({"check", app})) << iconv;
    EXPECT_EQ("", err) << iconv;
  }
}

TEST_F(Packer, VerifyAndListReadBack) {
  ASSERT_EQ(0, Pack(setup));
  EXPECT_TRUE(Says(0, {"verify", setup}, "sound; 2 files, 0 folders, nothing behind"));
  EXPECT_TRUE(Says(0, {"list", setup}, "2 files, 0 folders:"));
  const std::string image = ReadFile(setup);
  const size_t script = PAYLOAD_OFFSET;  // the first record: Setup.ini
  const struct {
    const char* what;
    std::string bytes;
    const char* problem;
  } cases[] = {
      {"cut short", image.substr(0, image.size() - 5), "the header is cut short"},
      {"bytes behind", image + "junk", "bytes follow the end record"},
      {"wrong magic", image.substr(0, script) + "\x0C" + image.substr(script + 1),
       "is not a popbox setup"},
      {"first not Setup.ini",
       image.substr(0, script + 13) + "Setup.inx" + image.substr(script + 22),
       "the first record must be the file Setup.ini"},
      {"no setup", image.substr(PAYLOAD_OFFSET), "is not a popbox setup"},
      {"the stub alone", image.substr(0, PAYLOAD_OFFSET), "is not a popbox setup"},
      {"a stub pack would refuse",
       image.substr(0, OPTIONAL + 36) + std::string("\3\0\0\0", 4) + image.substr(OPTIONAL + 40),
       "its stub image has invalid section or file alignment"},
      {"a zero in a name", image.substr(0, script + 16) + '\0' + image.substr(script + 17),
       "its name holds a zero byte"},
      {"end record with contents",
       image.substr(0, image.size() - 13) + std::string("\x0B\xB1\0\0\1\0\0\0\1\0\0\0\0x", 14),
       "the end record carries"},
  };
  for (const auto& c : cases) {
    WriteFile(setup, B(c.bytes));
    EXPECT_TRUE(Says(1, {"verify", setup}, c.problem)) << c.what;
  }
}

// Extract stops as the setup would when the machine fails it, and still
// converts the names written so far; a setup it cannot open leaves no folder.
TEST_F(Packer, ExtractStopsAsTheSetupWould) {
  test::Image image;
  image.File("Setup.ini", GoodScript()).File("readme.txt", "r").File("\xE9.txt", "e");
  image.File("big.bin", std::string(100000, 'b')).End();
  Bytes bytes = FakeStub();
  bytes.insert(bytes.end(), image.bytes.begin() + PAYLOAD_OFFSET, image.bytes.end());
  WriteFile(setup, bytes);
  // A file size limit, its signal ignored, fails the write of big.bin.
  EXPECT_TRUE(
      Says(1, {"extract", setup, temp / "x"},
           "the setup would stop with \"Can't write file .\\big.bin\" under \"Cannot Install\"",
           "trap '' XFSZ; ulimit -f 64; " POPBOX_EXE));
  std::string names;
  for (const auto& e : Tree(temp / "x")) names += e.first + " ";
  EXPECT_EQ("Setup.ini big.bin readme.txt \xC3\xA9.txt ", names) << "the names are UTF-8";
  EXPECT_EQ(1, Popbox({"extract", setup, temp / "x"})) << "the folder must be new or empty";
  EXPECT_EQ(1, Popbox({"extract", temp / "missing.exe", temp / "y"}));
  EXPECT_FALSE(fs::exists(temp / "y")) << "a setup that cannot be opened leaves no folder";
}

// The command line as authors know it from git, tar and cmake.
TEST_F(Packer, CommandLine) {
  Bytes signedStub = FakeStub();
  popbox::PutU32(signedStub, DIRS + 32, 40000);  // a certificate table
  WriteFile(temp / "signed.exe", signedStub);
  const std::string fifo = temp / "fifo";  // opening it for reading would wait for a writer
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const struct {
    std::vector<std::string> args;
    int code;
    const char* said;  // in stdout or stderr
  } cases[] = {
      {{}, 2, "usage: popbox COMMAND"},
      {{"help", "pack"}, 0, "usage: popbox pack APPDIR -o OUT.exe"},
      {{"pack", "--help"}, 0, "(default: "},
      {{"-V"}, 0, "popbox "},
      {{"pack", "--jobs=2", "-o=" + setup, "--stub=" + stub, app}, 0, "bytes in all"},
      {{"pack", app, "-j", "1", "-q", "--output", setup, "--stub", stub}, 0, ""},
      {{"pack", app, "-j1", "-o" + setup, "--stub", stub, "--"}, 0, "bytes in all"},
      {{"pack", app, "--jobs"}, 2, "--jobs needs a value"},
      {{"pack", app, "-o", setup, "-o", setup}, 2, "given twice"},
      {{"pack", app, "--store=yes", "-o", setup}, 2, "takes no value"},
      {{"pack", app, "-x"}, 2, "unknown option -x"},
      {{"list", "/bin/sh"}, 1, "is not a popbox setup"},
      {{"help", "frobnicate"}, 2, "no command frobnicate"},
      {{"check", app, "--codepage", "437"}, 2, "--codepage takes 1250, 1251 or 1252, not 437"},
      {{"help", "pack", "list"}, 2, "popbox: help takes one command, not 2 (see popbox help)"},
      {{"pack", app, "-o", setup, "--stub", temp / "signed.exe"}, 1, "is signed"},
      {{"pack", app, "-o", setup, "--stub", stub, "--file-version", "1.x"}, 1, "is no version"},
      {{"pack", app, "-o", setup, "--stub", stub, "--icon", temp / "none.ico"}, 1, "none.ico"},
      {{"list", fifo}, 1, "fifo: error: is not a regular file"},
      {{"verify", fifo}, 1, "fifo: error: is not a regular file"},
      {{"extract", fifo, temp / "out"}, 1, "fifo: error: is not a regular file"},
      {{"pack", app, "-o", setup, "--stub", fifo}, 1, "fifo: error: is not a regular file"},
      {{"pack", app, "-o", setup, "--stub", stub, "--icon", fifo}, 1, "fifo: error: is not a"},
  };
  for (const auto& c : cases) EXPECT_TRUE(Says(c.code, c.args, c.said, "timeout 10 " POPBOX_EXE));
  fs::create_directories(temp / "bin");  // a popbox with no stub beside it
  fs::copy_file(POPBOX_EXE, temp / "bin/popbox");
  EXPECT_TRUE(Says(1, {"pack", app, "-o", setup},
                   "no stub found at " + temp / "bin/popbox-stub.exe" + " or " +
                       temp / "bin/../share/popbox/popbox-stub.exe; name one with --stub FILE",
                   temp / "bin/popbox"));
}

// Ctrl+C, kill or a closed terminal while a large file packs leave no
// temporary file behind; a signal the caller ignores (nohup: -SIGHUP here)
// stays ignored.
TEST_F(Packer, InterruptedPackLeavesNothing) {
  WriteFile(app + "/big.bin", Bytes(64 << 20, 'x'));
  for (int signal : {SIGINT, SIGTERM, SIGHUP, -SIGHUP}) {
    pid_t pid = fork();
    if (pid == 0) {
      if (signal < 0) ::signal(-signal, SIG_IGN);
      execl(POPBOX_EXE, "popbox", "pack", app.c_str(), "-o", setup.c_str(), "--stub", stub.c_str(),
            "-q", (char*)nullptr);
      _exit(127);
    }
    for (int i = 0; i < 2000 && !Staged(); ++i) usleep(5000);
    ASSERT_TRUE(Staged()) << "the pack never started writing";
    kill(pid, signal < 0 ? -signal : signal);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(signal < 0 ? WIFEXITED(status) && WEXITSTATUS(status) == 0 && fs::exists(setup)
                           : WIFSIGNALED(status) && WTERMSIG(status) == signal);
    ASSERT_FALSE(Staged()) << "left behind";
  }
}

TEST_F(Packer, LeavesOutWhatTheAuthorSays) {
  fs::create_directories(app + "/build/obj");
  WriteFile(app + "/build/obj/a.o", B("o"));
  WriteFile(app + "/debug.pdb", B("p"));
  WriteFile(app + "/docs.txt", B("d"));
  WriteFile(app + "/.popboxignore", B("# build products\r\nbuild/\r\n\r\n*.pdb\r\n"));
  EXPECT_TRUE(Says(0, {"check", app, "--exclude", "doc?.txt"},
                   "build: left out by build/\n" + app +
                       ": 0 errors, 0 warnings; 2 files, 0 "
                       "folders, 3 left out"));
  EXPECT_TRUE(Says(0, {"list", app, "--exclude", "doc?.txt"}, "- debug.pdb (*.pdb)\n"));
  ASSERT_EQ(0, Pack(setup, {"--exclude=doc?.txt"}));
  std::vector<Record> records = ReadSetup(setup);
  ASSERT_EQ(3u, records.size()) << "Setup.ini, readme.txt and the end";
  EXPECT_TRUE(Says(1, {"check", app, "--exclude", "*.ini"},
                   "is left out by *.ini, but every setup needs it"));

  // A pattern that leaves out nothing is named with its likely slip; a
  // folder whose every entry is left out goes too; a LinkTarget left out
  // names the pattern; many stars cost no more than a few.
  fs::create_directories(app + "/docs");
  WriteFile(app + "/docs/a.txt", B("a"));
  WriteFile(app + "/x.node", B("n"));
  ASSERT_EQ(0, Popbox({"check", app, "--exclude", "*.NODE", "--exclude", " x.node", "--exclude",
                       "docs/**", "--exclude", "*a*a*a*a*a*a*a*a*a*a*a*a*b"}));
  for (const std::string said :
       {"--exclude: warning: the pattern \"*.NODE\" leaves out nothing; patterns match letter "
        "case exactly, and without regard to case it would leave out x.node",
        "\" x.node\" leaves out nothing; it begins or ends with a blank",
        "/docs: left out by docs/**", "4 files, 0 folders, 4 left out"}) {
    EXPECT_NE(std::string::npos, (err + out).find(said)) << err << out;
  }
  EXPECT_TRUE(
      Says(1, {"check", app, "--exclude", "readme.*"},
           "LinkTarget \"readme.txt\" is left out of the setup by the pattern \"readme.*\""));
  EXPECT_TRUE(GlobMatch("*a*a*a*a*a*a*a*a*a*a*a*a*b", (std::string(400, 'a') + "b").c_str()));
  EXPECT_FALSE(GlobMatch("**/*a*a*a*a*a*a*a*a*a*a*b", (std::string(400, 'a') + "/c").c_str()));
}

TEST_F(Packer, InitWritesAScriptThatPasses) {
  fs::remove(app + "/Setup.ini");
  fs::create_directories(app + "/bin");
  WriteFile(app + "/bin/Tool.exe", B("MZ"));
  ASSERT_EQ(0, Popbox({"init", app})) << err;
  std::string script = ReadFile(app + "/Setup.ini");
  EXPECT_NE(std::string::npos, script.find("LinkTarget=bin\\Tool.exe\r\n")) << script;
  EXPECT_NE(std::string::npos, script.find("Title=app Setup\r\n")) << script;
  EXPECT_EQ(0, Popbox({"check", app})) << err;
  EXPECT_EQ("", err);
  EXPECT_EQ(1, Popbox({"init", app}));
  EXPECT_EQ(script, ReadFile(app + "/Setup.ini")) << "never overwritten";
  EXPECT_TRUE(Says(1, {"init", temp / "missing"}, "missing: error: cannot read folder (No such"));
  EXPECT_TRUE(Says(1, {"init", app + "/readme.txt"}, "readme.txt: error: is not a folder"));
}

}  // namespace
