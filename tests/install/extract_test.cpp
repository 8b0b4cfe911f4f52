// ExtractPayload on the host: small setup files (a zero stub image and
// records written with BlobHeader) are read as the program's own file, and
// the payload goes into a temp install folder.
#include "install/extract.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "install_test_support.h"
#include "platform/os_api.h"
#include "script/script_document.h"

using itest::Bug;
using itest::CannotInstall;
using itest::ReadFile;
using itest::Report;
namespace fs = std::filesystem;

namespace {

const char SCRIPT[] =
    "[Install]\r\nTitle=Viewer\r\n[Vendor]\r\nName=\r\nURL=http://old.example\r\n"
    "[PRIVATE]\r\nSigned=1\r\n";
const char SCRIPT_BEFORE_PRIVATE[] =
    "[Install]\r\nTitle=Viewer\r\n[Vendor]\r\nName=\r\nURL=http://old.example\r\n";

// Compressed the simplest way: every byte a literal, the escape byte doubled
// as "DF 00". Contents holding the escape byte thus grow and count as packed.
std::string PackLiterals(const std::string& bytes) {
  std::string packed;
  for (char c : bytes) {
    packed += c;
    if (static_cast<uint8_t>(c) == popbox::ESCAPE_BYTE) packed += '\0';
  }
  return packed;
}

struct Payload {
  std::string bytes = std::string(popbox::PAYLOAD_OFFSET, '\0');

  Payload& Record(uint32_t type, const std::string& name, const std::string& contents,
                  bool pack = false, uint16_t magic = popbox::BLOB_MAGIC) {
    const std::string stored = pack ? PackLiterals(contents) : contents;
    popbox::BlobHeader header{magic, static_cast<uint16_t>(name.size()),
                              static_cast<uint32_t>(contents.size()),
                              static_cast<uint32_t>(stored.size()), static_cast<uint8_t>(type)};
    uint8_t raw[popbox::BLOB_HEADER_SIZE];
    header.Serialize(raw);
    bytes.append(reinterpret_cast<const char*>(raw), sizeof raw);
    bytes += name + stored;
    return *this;
  }
  Payload& Folder(const std::string& name) { return Record(popbox::BLOB_FOLDER, name, ""); }
  Payload& File(const std::string& name, const std::string& contents, bool pack = false) {
    return Record(popbox::BLOB_FILE, name, contents, pack);
  }
  Payload& End() { return Record(popbox::BLOB_END, "", ""); }
};

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    popbox::ClearError();
    setup_ = tmp_.Path() + "/setup.exe";
    installDir_ = tmp_.Path() + "/App";
    fs::create_directory(installDir_);  // the caller creates it
    LoadScript(SCRIPT);
  }
  void TearDown() override { popbox::theScript.Clear(); }
  void LoadScript(const std::string& text) {
    popbox::theScript.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  }
  bool Extract(const Payload& payload, const char* storeName = "", const char* webAddress = "") {
    itest::WriteFile(setup_, payload.bytes);
    return ExtractFrom(setup_, storeName, webAddress);
  }
  // ExtractPayload with the reader on the file at `path`.
  bool ExtractFrom(const std::string& path, const char* storeName = "",
                   const char* webAddress = "") {
    popbox::FileHandle file = popbox::OpenForReading(path.c_str());
    popbox::PayloadStream payload(file);
    bool ok = popbox::ExtractPayload(installDir_.c_str(), storeName, webAddress, payload);
    if (file != popbox::INVALID_FILE) popbox::CloseFile(file);
    return ok;
  }
  std::string Target(const std::string& name) { return installDir_ + "/" + name; }
  // Everything below the temp folder, relative to it.
  std::set<std::string> Tree() {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(tmp_.Path()))
      found.insert(fs::relative(entry.path(), tmp_.Path()).string());
    return found;
  }

  itest::TempDir tmp_;
  std::string setup_;
  std::string installDir_;
};

TEST_F(ExtractTest, WritesFoldersAndFilesByteExact) {
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7 % 256);  // escape bytes too
  Payload payload;
  payload.Folder("bin")
      .Folder("bin\\sub")
      .File("bin\\sub\\data.bin", binary, true)
      .File("empty.txt", "")
      .File("readme.txt", std::string("plain\r\n\0text", 10))
      .File("bin\\Setup.ini", "own bytes")
      .File("SETUP.INI", "never written")
      .End()
      .File("after-end.txt", "x");
  ASSERT_TRUE(Extract(payload, "Corner Shop", "http://shop.example"));
  EXPECT_FALSE(popbox::HasError());

  EXPECT_EQ(ReadFile(Target("bin/sub/data.bin")), binary);
  EXPECT_EQ(ReadFile(Target("readme.txt")), std::string("plain\r\n\0text", 10));
  EXPECT_EQ(ReadFile(Target("bin/Setup.ini")), "own bytes");
  EXPECT_EQ(ReadFile(Target("SETUP.INI")),
            "[Install]\r\nTitle=Viewer\r\n[Vendor]\r\nName=Corner Shop\r\n"
            "URL=http://shop.example\r\n");
  EXPECT_EQ(Tree(), (std::set<std::string>{
                        "setup.exe", "App", "App/bin", "App/bin/sub", "App/bin/sub/data.bin",
                        "App/empty.txt", "App/readme.txt", "App/bin/Setup.ini", "App/SETUP.INI"}));
  EXPECT_EQ(ReadFile(Target("empty.txt")), "");
  EXPECT_EQ(std::string(popbox::theScript.Text(), popbox::theScript.Length()), SCRIPT);
}

TEST_F(ExtractTest, TheSavedScriptCarriesOnlyTheStoreValuesItHasKeysFor) {
  const char VENDOR[] = "[Vendor]\r\nName=Old\r\nURL=u\r\n";
  struct Case {
    const char* script;
    const char* storeName;
    const char* webAddress;
    const char* saved;
  } cases[] = {
      {SCRIPT, "", "", SCRIPT_BEFORE_PRIVATE},
      {"", "Shop", "http://s", ""},
      {VENDOR, "Shop", "", "[Vendor]\r\nName=Shop\r\nURL=u\r\n"},
      {VENDOR, "", "http://s", "[Vendor]\r\nName=Old\r\nURL=http://s\r\n"},
      {"[Vendor]\r\nName=\r\n[PRIVATE]\r\nURL=x\r\n", "Shop", "http://s",
       "[Vendor]\r\nName=Shop\r\n"},
      {"[Install]\r\nURL=u\r\nName=n\r\n", "Shop", "http://s", "[Install]\r\nURL=u\r\nName=n\r\n"},
  };
  for (const Case& c : cases) {
    LoadScript(c.script);
    ASSERT_TRUE(Extract(Payload().File("Setup.ini", "x").End(), c.storeName, c.webAddress));
    EXPECT_EQ(ReadFile(Target("Setup.ini")), c.saved) << c.script;
  }
}

TEST_F(ExtractTest, OnlyAnEndRecordCreatesNothing) {
  EXPECT_TRUE(Extract(Payload().End()));
  EXPECT_EQ(Tree(), (std::set<std::string>{"setup.exe", "App"}));
}

TEST_F(ExtractTest, StopsAtTheFirstFailureAndKeepsWhatWasWritten) {
  fs::create_directory(Target("bin"));
  EXPECT_FALSE(Extract(Payload().File("a.txt", "a").Folder("bin").File("b.txt", "b").End()));
  EXPECT_EQ(Report(), CannotInstall("Can't create directory " + installDir_ + "\\bin"));
  EXPECT_EQ(ReadFile(Target("a.txt")), "a");
  EXPECT_FALSE(fs::exists(Target("b.txt")));

  popbox::ClearError();
  EXPECT_FALSE(Extract(Payload().File("c.txt", "c").Record(3, "odd", "zz").File("d", "d").End()));
  EXPECT_EQ(Report(), Bug("Unknown BLOB Type"));
  EXPECT_EQ(ReadFile(Target("c.txt")), "c");
  EXPECT_FALSE(fs::exists(Target("odd")) || fs::exists(Target("d")));

  popbox::ClearError();
  Payload corrupted;
  corrupted.File("e.txt", "e").Record(popbox::BLOB_FILE, "f.txt", "f", false, 0xB00B).End();
  EXPECT_FALSE(Extract(corrupted));
  EXPECT_EQ(Report(), Bug("File Corrupted. Can't Read BLOBs."));
  EXPECT_EQ(ReadFile(Target("e.txt")), "e");

  popbox::ClearError();  // no end record: the walk runs off the file
  EXPECT_FALSE(Extract(Payload().File("g.txt", "g")));
  EXPECT_EQ(Report(), Bug("File Corrupted. Can't Read BLOBs."));

  popbox::ClearError();
  EXPECT_FALSE(ExtractFrom(tmp_.Path() + "/missing.exe"));
  EXPECT_EQ(Report(), Bug("File Corrupted. Can't Find BLOBs."));
}

TEST_F(ExtractTest, NamesThatLeaveTheFolderAreRefusedAsBugs) {
  for (const char* name : {"..\\escape.txt", "sub\\..\\..\\escape.txt", "../escape.txt", "\\x",
                           "/x", "C:\\x", "x:stream", "a\\\\b", "a\\", "", "."}) {
    for (uint32_t type : {popbox::BLOB_FILE, popbox::BLOB_FOLDER}) {
      popbox::ClearError();
      EXPECT_FALSE(Extract(Payload().Folder("sub").Record(type, name, "bad").End())) << name;
      EXPECT_EQ(Report(), Bug(std::string("Bad BLOB Name: ") + name)) << name;
      EXPECT_EQ(Tree(), (std::set<std::string>{"setup.exe", "App", "App/sub"})) << name;
      fs::remove(Target("sub"));
    }
  }
}

TEST_F(ExtractTest, ANameThatMakesThePathTooLongIsRefused) {
  const size_t room = popbox::MAX_NAME_LENGTH - installDir_.size() - 1;  // name length that fits
  ASSERT_LT(room, 250u);
  const std::string fits(room, 'n');
  const std::string tooLong(room + 1, 'n');
  EXPECT_TRUE(Extract(Payload().File(fits, "ok").End()));
  EXPECT_EQ(ReadFile(Target(fits)), "ok");

  EXPECT_FALSE(Extract(Payload().File(tooLong, "no").End()));
  EXPECT_EQ(Report(), Bug("Path Too Long: " + tooLong));
  EXPECT_EQ(Tree(), (std::set<std::string>{"setup.exe", "App", "App/" + fits}));
}

}  // namespace
