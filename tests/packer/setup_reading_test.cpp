// popbox verify, list and extract on setups that pack wrote and on setups
// built by hand with one fault each.
#include "tests/packer/packer_test_support.h"

namespace popbox_packer_test {
namespace {

using popbox::BLOB_END;
using popbox::BLOB_FILE;
using popbox::BLOB_FOLDER;
using popbox::BLOB_HEADER_SIZE;
using popbox::PAYLOAD_OFFSET;

struct Raw {
  uint32_t type;
  std::string name;
  std::string contents;  // stored as they are
};

// The stub, then the records, stored; the end record when `end`.
Bytes BuildSetup(const std::vector<Raw>& records, bool end = true) {
  Bytes image = FakeStub();
  std::vector<Raw> all = records;
  if (end) all.push_back({BLOB_END, "", ""});
  for (const Raw& r : all) {
    popbox::BlobHeader h{popbox::BLOB_MAGIC, static_cast<uint16_t>(r.name.size()),
                         static_cast<uint32_t>(r.contents.size()),
                         static_cast<uint32_t>(r.contents.size()), static_cast<uint8_t>(r.type)};
    uint8_t raw[BLOB_HEADER_SIZE];
    h.Serialize(raw);
    image.insert(image.end(), raw, raw + sizeof raw);
    image.insert(image.end(), r.name.begin(), r.name.end());
    image.insert(image.end(), r.contents.begin(), r.contents.end());
  }
  return image;
}

void Store32(Bytes& image, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

using SetupReadingTest = PackerTest;

TEST_F(SetupReadingTest, VerifyAcceptsWhatPackWritesAndASignedSetup) {
  fs::create_directories(app_ / "docs" / "more");
  WriteText(app_ / "docs" / "more" / "a.txt", std::string(5000, 'a'));
  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  ASSERT_EQ(Popbox({"verify", setup.string()}), 0) << err_text_;
  EXPECT_EQ(out_text_,
            setup.string() + ": sound; 3 files, 2 folders, nothing behind the end record\n");

  // An Authenticode signature: padding to 8 bytes, then a WIN_CERTIFICATE
  // named by the security directory of the PE header.
  Bytes image = ReadBytes(setup);
  while (image.size() % 8) image.push_back(0);
  size_t certificate = image.size();
  Bytes cert = {0, 0, 0, 0, 0x00, 0x02, 0x02, 0x00};
  cert.resize(64, 0x30);
  Store32(cert, 0, static_cast<uint32_t>(cert.size()));
  image.insert(image.end(), cert.begin(), cert.end());
  size_t directory = 0x80 + 24 + 96 + 4 * 8;
  Store32(image, directory, static_cast<uint32_t>(certificate));
  Store32(image, directory + 4, static_cast<uint32_t>(cert.size()));
  WriteBytes(out_ / "signed.exe", image);
  ASSERT_EQ(Popbox({"verify", (out_ / "signed.exe").string()}), 0) << err_text_;
  EXPECT_NE(out_text_.find("a signature behind the end record"), std::string::npos);

  // The same bytes unsigned by the directory are junk.
  Store32(image, directory, 0);
  WriteBytes(out_ / "junk.exe", image);
  EXPECT_EQ(Popbox({"verify", (out_ / "junk.exe").string()}), 1);
  EXPECT_NE(err_text_.find("bytes follow the end record, and they are not an Authenticode"),
            std::string::npos)
      << err_text_;
}

TEST_F(SetupReadingTest, VerifyNamesTheFirstProblem) {
  const std::string script = GoodScript();
  const Raw ini = {BLOB_FILE, "Setup.ini", script};
  const Raw readme = {BLOB_FILE, "readme.txt", "r"};
  Bytes notMz = BuildSetup({ini, readme});
  notMz[0] = 'X';
  Bytes noPe = BuildSetup({ini, readme});
  noPe[0x80] = 'X';
  Bytes stubOnly = FakeStub();
  Bytes trailing = BuildSetup({ini, readme});
  trailing.push_back(0);
  struct Case {
    const char* what;
    Bytes image;
    std::string expected;
  };
  const Case cases[] = {
      {"short file", Bytes(100, 'M'), "is 100 bytes, shorter than the 40960-byte stub"},
      {"not MZ", notMz, "does not start with MZ"},
      {"no PE header", noPe, "has no PE header"},
      {"no payload", stubOnly, "holds no payload behind the stub"},
      {"no end record", BuildSetup({ini, readme}, false),
       "ends after record 2 without an end record"},
      {"only the end record", BuildSetup({}), "holds no records before its end record"},
      {"Setup.ini not first", BuildSetup({readme, ini}),
       "record 1 (FILE readme.txt) at offset 40960: the first record must be the file Setup.ini"},
      {"unknown type", BuildSetup({ini, readme, {3, "x", ""}}),
       "record 3 (3 x) at offset 41356: the setup would stop with \"Unknown BLOB Type\""},
      {"unsafe name", BuildSetup({ini, readme, {BLOB_FILE, "..\\evil.txt", "e"}}),
       "the setup would stop with \"Bad BLOB Name: ..\\evil.txt\""},
      {"contents before their folder",
       BuildSetup({ini, readme, {BLOB_FILE, "docs\\a.txt", "a"}, {BLOB_FOLDER, "docs", ""}}),
       "record 3 (FILE docs\\a.txt) at offset 41356: its folder has no folder record before it"},
      {"a folder twice",
       BuildSetup({ini, readme, {BLOB_FOLDER, "docs", ""}, {BLOB_FOLDER, "DOCS", ""}}),
       "record 4 (FOLDER DOCS) at offset 41373: the same name came before"},
      {"bytes behind the end record", trailing, "1 bytes follow the end record"},
      {"script without LinkTarget",
       BuildSetup({{BLOB_FILE, "Setup.ini",
                    "[Install]\r\nDefaultAppDir=C:\\x\r\n"
                    "StartProgramsLink=C:\\a.lnk\r\nDesktopLink=C:\\b.lnk\r\n"},
                   readme}),
       "Setup.ini:1: error: [Install] has no LinkTarget"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path bad = out_ / "bad.exe";
    WriteBytes(bad, c.image);
    EXPECT_EQ(Popbox({"verify", bad.string()}), 1);
    EXPECT_NE(err_text_.find(c.expected), std::string::npos) << err_text_;
    EXPECT_EQ(err_text_.rfind(bad.string(), 0), 0u) << err_text_;
    EXPECT_EQ(StderrLines(), 1u) << err_text_;
  }
}

TEST_F(SetupReadingTest, ListShowsRecordsAndTotals) {
  WriteText(app_ / "big.txt", std::string(10000, 'z'));
  WriteText(app_ / "naïve.txt", "n");
  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  ASSERT_EQ(Popbox({"list", setup.string()}), 0) << err_text_;
  std::vector<std::string> lines;
  std::istringstream text(out_text_);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].rfind("FILE", 0), 0u);
  EXPECT_NE(lines[0].find(" Setup.ini"), std::string::npos);
  EXPECT_NE(lines[2].find(" naïve.txt"), std::string::npos);  // back in UTF-8
  EXPECT_EQ(lines[4].rfind("END", 0), 0u);
  EXPECT_EQ(lines[5].rfind("4 files, 0 folders: ", 0), 0u) << lines[5];
  EXPECT_NE(lines[5].find("%)"), std::string::npos) << lines[5];
}

TEST_F(SetupReadingTest, ListRefusesWhatTheStubCouldNotRead) {
  WriteText(app_ / "Setup.ini", std::string(400, 'a') + GoodScript());
  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup, {"--store"}), 0) << err_text_;
  ASSERT_EQ(Pack(app_, out_ / "packed.exe"), 0) << err_text_;
  Bytes good = ReadBytes(out_ / "packed.exe");

  Bytes noEnd(good.begin(), good.end() - 13);
  Bytes cut(good.begin(), good.end() - 20);
  Bytes damaged = good;
  damaged[PAYLOAD_OFFSET + BLOB_HEADER_SIZE + 9] = 0x41;  // the first token, a run of 'a'
  struct Case {
    const char* what;
    Bytes image;
    std::string expected;
  };
  const Case cases[] = {{"stub alone", ReadBytes(stub_), "holds no payload"},
                        {"no end record", noEnd, "without an end record"},
                        {"cut inside a record", cut, "the file ends inside it"},
                        {"contents that do not unpack", damaged, "do not unpack"},
                        {"not a setup", Bytes(100, 'x'), "shorter than a stub"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path bad = out_ / "bad.exe";
    WriteBytes(bad, c.image);
    EXPECT_EQ(Popbox({"list", bad.string()}), 1);
    EXPECT_NE(err_text_.find("bad.exe: error: "), std::string::npos) << err_text_;
    EXPECT_NE(err_text_.find(c.expected), std::string::npos) << err_text_;
  }
  EXPECT_EQ(Popbox({"list", (out_ / "missing.exe").string()}), 1);
  EXPECT_NE(err_text_.find("missing.exe"), std::string::npos) << err_text_;
}

TEST_F(SetupReadingTest, ExtractReproducesTheFolder) {
  fs::create_directories(app_ / "docs" / "Überblick");
  fs::create_directories(app_ / "empty");
  WriteBytes(app_ / "docs" / "random.bin", RandomBytes(70000, 3));
  WriteText(app_ / "docs" / "Überblick" / "Café.txt", std::string(3000, 'c'));
  WriteText(app_ / "docs" / "zero.txt", "");
  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;

  fs::path into = root_ / "extracted";
  ASSERT_EQ(Popbox({"extract", setup.string(), into.string()}), 0) << err_text_;
  EXPECT_EQ(out_text_, into.string() + ": 5 files, 3 folders written\n");
  EXPECT_TRUE(Tree(into) == Tree(app_));

  // An empty folder will do; a folder with something in it will not.
  fs::path empty = root_ / "empty";
  fs::create_directories(empty);
  EXPECT_EQ(Popbox({"extract", setup.string(), empty.string()}), 0) << err_text_;
  EXPECT_EQ(Popbox({"extract", setup.string(), empty.string()}), 1);
  EXPECT_EQ(err_text_, empty.string() + ": error: is not empty\n");

  // As installed: Setup.ini ends before [PRIVATE].
  WriteText(app_ / "Setup.ini", GoodScript() + "[PRIVATE]\r\nnotes\r\n");
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  fs::remove_all(into);
  ASSERT_EQ(Popbox({"extract", setup.string(), into.string()}), 0) << err_text_;
  EXPECT_EQ(ReadText(into / "Setup.ini"), GoodScript());
}

// The stub's own extraction decides; its message and caption are shown,
// and nothing lands outside the folder.
TEST_F(SetupReadingTest, ExtractShowsWhatTheSetupWouldShow) {
  const Raw ini = {BLOB_FILE, "Setup.ini", GoodScript()};
  struct Case {
    const char* what;
    Bytes image;
    std::string expected;
  };
  Bytes corrupt = BuildSetup({ini, {BLOB_FILE, "a.txt", "abc"}});
  corrupt.resize(corrupt.size() - 14);
  const Case cases[] = {
      {"no Setup.ini", BuildSetup({{BLOB_FILE, "a.txt", "a"}}),
       "the setup would stop with \"Missing BLOB: Setup.ini\" under \"Bug\""},
      {"climbing name", BuildSetup({ini, {BLOB_FILE, "..\\escaped.txt", "x"}}),
       "the setup would stop with \"Bad BLOB Name: ..\\escaped.txt\" under \"Bug\""},
      {"cut short", corrupt,
       "the setup would stop with \"File Corrupted. Can't Read BLOBs.\" under \"Bug\""},
      {"folder twice", BuildSetup({ini, {BLOB_FOLDER, "d", ""}, {BLOB_FOLDER, "d", ""}}),
       "the setup would stop with \"Can't create directory "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path bad = out_ / "bad.exe";
    fs::path into = root_ / "into";
    fs::remove_all(into);
    WriteBytes(bad, c.image);
    EXPECT_EQ(Popbox({"extract", bad.string(), into.string()}), 1);
    EXPECT_NE(err_text_.find(c.expected), std::string::npos) << err_text_;
    EXPECT_EQ(StderrLines(), 1u) << err_text_;
    EXPECT_FALSE(fs::exists(root_ / "escaped.txt"));
  }
}

// Windows matches names without regard to case, in the names' code page:
// a record "DocS\a.txt" goes into the folder made as "Docs", and "\xC9"
// (É) into "\xE9" (é). Extract puts them where the setup would, and verify
// calls such a setup sound.
TEST_F(SetupReadingTest, ExtractMatchesNamesAsWindowsDoes) {
  fs::path setup = out_ / "cases.exe";
  WriteBytes(setup, BuildSetup({{BLOB_FILE, "Setup.ini", GoodScript()},
                                {BLOB_FILE, "readme.txt", "read me"},
                                {BLOB_FOLDER, "Docs", ""},
                                {BLOB_FILE, "DocS\\a.txt", "first"},
                                {BLOB_FOLDER, "docs\\Caf\xE9", ""},
                                {BLOB_FILE, "DOCS\\CAF\xC9\\b.txt", "second"}}));
  ASSERT_EQ(Popbox({"verify", setup.string()}), 0) << err_text_;
  fs::path into = root_ / "cases";
  ASSERT_EQ(Popbox({"extract", setup.string(), into.string()}), 0) << err_text_;
  EXPECT_EQ(ReadText(into / "Docs" / "a.txt"), "first");
  EXPECT_EQ(ReadText(into / "Docs" / "Café" / "b.txt"), "second");
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(into), {}), 6);
}

}  // namespace
}  // namespace popbox_packer_test
