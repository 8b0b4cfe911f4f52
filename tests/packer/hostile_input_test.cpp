// What list, verify, extract, check and pack make of hostile input.
#include <sys/stat.h>

#include "packer/app_folder.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/exclusions.h"
#include "support.h"

using namespace popbox;
using namespace test;

namespace {

// Setups written by hand against the payload format, behind Setup.ini and
// readme.txt: what verify says, what extract writes (refusing, with
// verify's words and no folder, what verify refuses), what list prints.
TEST_F(Packer, HostileSetups) {
  const std::string n252(252, 'n');
  const struct {
    std::vector<std::string> records;  // ending in '/': a folder; else a file holding "x"
    std::string verify;                // in verify's message; "" for sound
    std::string extracted;             // the names written beside the two; "-" for none
    std::string listed;                // in list's output
  } cases[] = {
      {{"a.txt", "A.TXT"}, "record 4 (FILE A.TXT) at offset 41", "-", " A.TXT\n"},
      {{"d/", "d/"},
       "the same name came before (letter case aside); the setup would fail",
       "-",
       " d\n"},
      {{"a\x1b[2J\rb.txt"},
       "record 3 (FILE a\\x1b[2J\\x0db.txt) at offset 41356: its name contains a character that "
       "Windows does not allow",
       "-",
       " a\\x1b[2J\\x0db.txt\n"},
      {{"what?.txt"}, "its name contains a character that Windows does not allow", "-", "what?"},
      {{"COM\xB9"},
       "the setup would stop with \"Bad BLOB Name: COM\xC2\xB9\"",
       "-",
       " COM\xC2\xB9\n"},
      {{std::string(255, 'n')}, "its record name is 255 bytes, more than 254", "-", "nnn\n"},
      {{"d/", "d\\" + n252}, "", "d d/" + n252, "nnn\n"},
      {{"x\x81"}, "", "x\xC2\x81", " x\\x81\n"},
      {{"Docs/", "DocS\\a.txt"}, "", "Docs Docs/a.txt", " DocS\\a.txt\n"},
      {{"\xE9t\xE9/", "\xC9T\xC9\\a.txt"},
       "",
       "\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9/a.txt",
       "a.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.records.back());
    Image image;
    image.File("Setup.ini", GoodScript()).File("readme.txt", "r");
    for (const std::string& name : c.records) {
      if (name.back() == '/') {
        image.Folder(name.substr(0, name.size() - 1));
      } else {
        image.File(name, "x");
      }
    }
    image.End();
    Bytes bytes = FakeStub();
    bytes.insert(bytes.end(), image.bytes.begin() + PAYLOAD_OFFSET, image.bytes.end());
    WriteFile(setup, bytes);
    fs::remove_all(temp / "x");

    EXPECT_TRUE(Says(c.verify.empty() ? 0 : 1, {"verify", setup}, c.verify));
    std::string refusal = err;
    EXPECT_EQ(c.verify.empty() ? 0 : 1, Popbox({"extract", setup, temp / "x"}));
    if (c.verify.empty()) {
      std::map<std::string, std::string> tree = Tree(temp / "x");
      tree.erase("Setup.ini"), tree.erase("readme.txt");
      std::string names;
      for (const auto& e : tree) names += (names.empty() ? "" : " ") + e.first;
      EXPECT_EQ(c.extracted, names) << err;
    } else {
      EXPECT_EQ(refusal, err);
      EXPECT_FALSE(fs::exists(temp / "x")) << "refused, yet the folder was made";
    }
    EXPECT_TRUE(Says(0, {"list", setup}, c.listed));
  }
}

// Folders that an attacker or an unlucky author makes: one check answers at
// once and names each culprit (links that fan out would take it, and the
// setup, to 2^12 copies of a folder here, and on without end).
TEST_F(Packer, HostileFolders) {
  fs::create_directories(app + "/l0");
  WriteFile(app + "/l0/f", B("f"));
  for (int i = 1; i <= 12; ++i) {
    fs::create_directories(app + "/l" + std::to_string(i));
    for (const char* link : {"/a", "/b"})
      fs::create_symlink("../l" + std::to_string(i - 1), app + "/l" + std::to_string(i) + link);
  }
  fs::create_symlink("b", app + "/a");
  fs::create_symlink("a", app + "/b");
  fs::create_directories(app + "/v2");
  WriteFile(app + "/v2/f", B("f"));
  fs::create_symlink("v2", app + "/current");
  EXPECT_EQ(1, Popbox({"check", app}));
  for (const char* named : {"/l9: error: is the folder", "/a: error: is a symbolic link in a loop",
                            "/v2: error: is the folder "})
    EXPECT_NE(std::string::npos, err.find(app + named)) << err;

  // A file swapped after the check, for a link out of the folder or for a
  // pipe, is not read in its place.
  fs::remove_all(app);
  SetUp();
  Diagnostics found;
  AppFolder listed = ListAppFolder(app, *FindCodePage(1252), Exclusions(), &found);
  WriteFile(temp / "outside.txt", B("not the author's"));
  for (bool link : {true, false}) {
    fs::remove(app + "/readme.txt");
    if (link) fs::create_symlink(temp / "outside.txt", app + "/readme.txt");
    if (!link) mkfifo((app + "/readme.txt").c_str(), 0666);
    ByteBuffer bytes;
    try {
      ReadFileInto(listed.records.back().hostPath, MAX_FILE_SIZE, &bytes, 1,
                   listed.records.back().id);
      ADD_FAILURE() << "read a swapped file";
    } catch (const PackerError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(link ? "is no longer the file"
                                                                   : "is not a regular file"))
          << e.what();
    }
  }
}

}  // namespace
