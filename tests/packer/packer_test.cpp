// The popbox command line: pack, check, list, verify and extract, run as the
// author runs them.
#include <unistd.h>

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
  ASSERT_EQ(0, Pack(temp / "stored.exe", {"--store"}));
  for (const Record& r : ReadSetup(temp / "stored.exe")) EXPECT_EQ(r.contents.size(), r.packedSize);
}

// The bytes depend on the folder's contents alone, not on the jobs or the
// order in which the file system lists names.
TEST_F(Packer, SameFolderSameBytes) {
  for (int i = 0; i < 40; ++i) {
    std::string name = "file" + std::to_string(i * 7919 % 40) + ".dat";
    WriteFile(app + "/" + name, B(std::string(3000, char('a' + i % 3)) + name));
  }
  ASSERT_EQ(0, Pack(temp / "one.exe", {"--jobs", "1"}));
  ASSERT_EQ(0, Pack(temp / "three.exe", {"--jobs", "3"}));
  EXPECT_TRUE(ReadFile(temp / "one.exe") == ReadFile(temp / "three.exe"));
  // An earlier setup inside the folder is not packed into the next one.
  ASSERT_EQ(0, Pack(app + "/setup.exe"));
  ASSERT_EQ(0, Pack(app + "/setup.exe"));
  EXPECT_EQ(43u, ReadSetup(app + "/setup.exe").size());
}

TEST_F(Packer, NamesInTheCodePage) {
  fs::create_directories(app +
                         "/\xC3\x9C"
                         "berblick");
  WriteFile(app +
                "/\xC3\x9C"
                "berblick/Caf\xC3\xA9 \xE2\x82\xAC.txt",
            B("x"));
  ASSERT_EQ(0, Pack(setup)) << err;
  std::vector<Record> records = ReadSetup(setup);
  EXPECT_EQ(
      "\xDC"
      "berblick\\Caf\xE9 \x80.txt",
      records[3].name);
  ASSERT_EQ(0, Popbox({"list", setup}));
  EXPECT_NE(std::string::npos, out.find(" \xC3\x9C"
                                        "berblick\\Caf\xC3\xA9 \xE2\x82\xAC.txt\n"))
      << out;
  ASSERT_EQ(0, Popbox({"extract", setup, temp / "x"})) << err;
  std::map<std::string, std::string> want = Tree(app), got = Tree(temp / "x");
  EXPECT_NE(want["Setup.ini"], "");
  want.erase("Setup.ini"), got.erase("Setup.ini");
  EXPECT_EQ(want, got) << "extract writes the folder again, names in UTF-8";
  fs::create_directories(app + "/" + std::string(200, 'd'));
  WriteFile(app + "/" + std::string(200, 'd') + "/" + std::string(58, 'f'), B("259 bytes"));
  ASSERT_EQ(0, Pack(setup)) << err;
  WriteFile(app + "/" + std::string(200, 'd') + "/" + std::string(59, 'f'), B("260 bytes"));
  WriteFile(app + "/\xE4\xB8\xAD.txt", B("not in 1252"));
  EXPECT_EQ(1, Pack(setup));
  EXPECT_NE(std::string::npos, err.find(std::string(59, 'f') + ": error")) << err;
  EXPECT_NE(std::string::npos, err.find("U+4E2D")) << err;
}

// Each refusal exits with 1, names the culprit, and writes nothing.
TEST_F(Packer, RefusalsNameTheCulprit) {
  const struct {
    const char* what;
    const char* file;    // written into the folder first, or ""
    const char* script;  // replaces LinkTarget's line, or ""
    const char* named;
  } cases[] = {
      {"bad LinkTarget", "", "LinkTarget=nothing.txt", "Setup.ini:13: error: LinkTarget"},
      {"backslash in a name", "a\\b.txt", "", "a\\b.txt: error"},
      {"character Windows refuses", "what?.txt", "", "what?.txt: error"},
      {"device name", "aux.txt", "", "aux.txt: error"},
      {"trailing dot", "x.", "", "x.: error"},
      {"trailing blank", "x ", "", "x : error"},
      {"case twin", "README.txt", "", "differs from"},
      {"accented case twin", "\xC3\x89lan", "", "only in letter case"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(app);
    SetUp();
    WriteFile(app + "/\xC3\xA9lan", B("1"));
    if (*c.file) WriteFile(app + "/" + c.file, B("2"));
    if (*c.script) {
      std::string script = GoodScript();
      script.replace(script.find("LinkTarget=readme.txt"), 21, c.script);
      WriteFile(app + "/Setup.ini", B(script));
    }
    WriteFile(setup, B("earlier output"));
    EXPECT_EQ(1, Pack(setup)) << err;
    EXPECT_NE(std::string::npos, err.find(c.named)) << err;
    EXPECT_EQ("earlier output", ReadFile(setup));
    for (const auto& e : fs::directory_iterator(temp.path))
      EXPECT_NE(0u, e.path().filename().string().rfind(".popbox", 0)) << "left behind";
  }
  fs::remove_all(app);
  SetUp();
  for (Bytes bad : {Bytes(PAYLOAD_OFFSET, 0), Bytes(PAYLOAD_OFFSET - 1, 'M')}) {
    WriteFile(stub, bad);
    EXPECT_EQ(1, Popbox({"pack", app, "-o", setup, "--stub", stub}));
    EXPECT_NE(std::string::npos, err.find("stub.exe: error")) << err;
  }
  fs::remove(app + "/Setup.ini");
  EXPECT_EQ(1, Pack(setup));
  EXPECT_NE(std::string::npos, err.find("Setup.ini: error: is missing")) << err;
  EXPECT_EQ(2, Popbox({"pack", app}));
  EXPECT_EQ(2, Popbox({"frobnicate"}));
}

TEST_F(Packer, CheckFindsWhatTheSetupWouldStopOn) {
  const struct {
    const char* line;     // replaces the line of the same key, or is added
    const char* finding;  // "" for none
  } cases[] = {
      {"LinkTarget=readme.txt", ""},
      {"LinkTarget=", "Setup.ini:13: error: LinkTarget is empty"},
      {"LinkTarget=..\\readme.txt", "Setup.ini:13: error: LinkTarget"},
      {"DesktopLink=<desktop>\\Example.lnk",
       "Setup.ini:11: error: the folder macro <desktop> is written in other case"},
      {"DefaultAppDir=<AppData>\\x", "Setup.ini:8: error: the folder macro <AppData> is unknown"},
      {"DefaultAppDir=Example", "Setup.ini:8: warning: DefaultAppDir gives \"Example\""},
      {"StartProgramsLink=<Programs Menu>\\{s*200}.lnk",
       "Setup.ini:9: warning: StartProgramsLink expands to more than 259"},
      {"DesktopLinkSelected=no\r\nDesktopLinkSelcted=no",
       "warning: [Install] DesktopLinkSelcted is never read by the setup; did you mean "
       "DesktopLinkSelected?"},
      {"Title=Caf\xC3\xA9", "Setup.ini:6: warning: holds UTF-8 text"},
      {"Title=x\r\n Title=y", "Setup.ini:7: warning: the key Title is indented"},
  };
  for (const auto& c : cases) {
    std::string line = c.line, key = line.substr(0, line.find('=') + 1), script = GoodScript();
    if (line.find("{s*") != std::string::npos)
      line.replace(line.find("{s*200}"), 7, std::string(200, 's'));
    size_t at = script.find(key);
    script.replace(at, script.find("\r\n", at) - at, line);
    WriteFile(app + "/Setup.ini", B(script));
    int code = Popbox({"check", app});
    EXPECT_EQ(std::string(c.finding).find("error") != std::string::npos ? 1 : 0, code) << c.line;
    EXPECT_NE(std::string::npos, err.find(c.finding)) << c.line << "\n" << err;
    if (!*c.finding) {
      EXPECT_EQ("", err);
    }
  }
}

TEST_F(Packer, VerifyAndListReadBack) {
  ASSERT_EQ(0, Pack(setup));
  ASSERT_EQ(0, Popbox({"verify", setup})) << err;
  EXPECT_NE(std::string::npos, out.find("sound; 2 files, 0 folders, nothing behind")) << out;
  ASSERT_EQ(0, Popbox({"list", setup}));
  EXPECT_NE(std::string::npos, out.find("2 files, 0 folders:")) << out;
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
       "no record header"},
      {"first not Setup.ini",
       image.substr(0, script + 13) + "Setup.inx" + image.substr(script + 22),
       "the first record must be the file Setup.ini"},
      {"no stub", image.substr(PAYLOAD_OFFSET), "shorter than"},
  };
  for (const auto& c : cases) {
    WriteFile(setup, B(c.bytes));
    EXPECT_EQ(1, Popbox({"verify", setup})) << c.what;
    EXPECT_NE(std::string::npos, err.find(c.problem)) << c.what << ": " << err;
  }
}

// Extract writes what the setup would, with its own code, and stops as it
// would; names match existing ones without regard to case, as on Windows.
TEST_F(Packer, ExtractStopsAsTheSetupWould) {
  test::Image image;
  image.File("Setup.ini", GoodScript()).Folder("Docs").File("DocS\\a.txt", "a").End();
  Bytes bytes = FakeStub();
  bytes.insert(bytes.end(), image.bytes.begin() + PAYLOAD_OFFSET, image.bytes.end());
  WriteFile(setup, bytes);
  ASSERT_EQ(0, Popbox({"extract", setup, temp / "x"})) << err;
  EXPECT_EQ("a", ReadFile(temp / "x/Docs/a.txt"));
  image = test::Image();
  image.File("Setup.ini", GoodScript()).Folder("d").Folder("d").End();
  bytes.resize(PAYLOAD_OFFSET);
  bytes.insert(bytes.end(), image.bytes.begin() + PAYLOAD_OFFSET, image.bytes.end());
  WriteFile(setup, bytes);
  EXPECT_EQ(1, Popbox({"extract", setup, temp / "y"}));
  EXPECT_NE(std::string::npos, err.find("\"Can't create directory .\\d\" under \"Cannot Install\""))
      << err;
  EXPECT_EQ(1, Popbox({"extract", setup, temp / "x"})) << "the folder must be new or empty";
}

}  // namespace
