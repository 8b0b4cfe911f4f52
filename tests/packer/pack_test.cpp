// popbox pack end to end: what it writes, that it writes the same bytes
// every time, and that every refusal leaves nothing behind.
#include <sys/stat.h>

#include <functional>

#include "tests/packer/packer_test_support.h"

namespace popbox_packer_test {
namespace {

using popbox::BLOB_END;
using popbox::BLOB_FILE;
using popbox::BLOB_FOLDER;
using popbox::ESCAPE_BYTE;
using popbox::MAX_NAME_LENGTH;
using popbox::PAYLOAD_OFFSET;

using PackTest = PackerTest;

TEST_F(PackTest, PackedFolderReadsBackInOrderAndByteExact) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i % 7) + " of the readme\n";
  Bytes escapes(500, ESCAPE_BYTE);
  escapes[250] = 'x';

  fs::remove(app_ / "readme.txt");
  WriteText(app_ / "Readme.TXT", text);              // compressed; LinkTarget ignores case
  WriteBytes(app_ / "a.bin", RandomBytes(3000, 1));  // stored: random
  fs::create_directories(app_ / "b" / "inner");
  WriteText(app_ / "b" / "empty.txt", "");
  WriteText(app_ / "b" / "inner" / "deep.txt", "abcd");   // stored: equal size
  WriteBytes(app_ / "b" / "inner" / "esc.bin", escapes);  // compressed
  fs::create_directories(app_ / "z");

  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  EXPECT_EQ(err_text_, "");  // no warnings for a good folder
  Bytes image = ReadBytes(setup);
  ASSERT_GE(image.size(), PAYLOAD_OFFSET);
  EXPECT_TRUE(Bytes(image.begin(), image.begin() + PAYLOAD_OFFSET) == ReadBytes(stub_));

  struct Expected {
    uint32_t type;
    const char* name;
    fs::path source;  // empty for folders and the end record
  };
  const Expected expected[] = {
      {BLOB_FILE, "Setup.ini", app_ / "Setup.ini"},
      {BLOB_FILE, "Readme.TXT", app_ / "Readme.TXT"},  // 'R' sorts before 'a'
      {BLOB_FILE, "a.bin", app_ / "a.bin"},
      {BLOB_FOLDER, "b", {}},
      {BLOB_FILE, "b\\empty.txt", app_ / "b" / "empty.txt"},
      {BLOB_FOLDER, "b\\inner", {}},
      {BLOB_FILE, "b\\inner\\deep.txt", app_ / "b" / "inner" / "deep.txt"},
      {BLOB_FILE, "b\\inner\\esc.bin", app_ / "b" / "inner" / "esc.bin"},
      {BLOB_FOLDER, "z", {}},
      {BLOB_END, "", {}},
  };
  std::vector<Record> records = ReadSetup(setup);
  ASSERT_EQ(records.size(), std::size(expected));
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(records[i].type, expected[i].type);
    EXPECT_EQ(records[i].name, expected[i].name);
    Bytes want = expected[i].source.empty() ? Bytes() : ReadBytes(expected[i].source);
    EXPECT_TRUE(records[i].contents == want);
  }
  EXPECT_LT(records[1].packedSize, records[1].contents.size());  // Readme.TXT
  EXPECT_EQ(records[2].packedSize, 3000u);                       // a.bin
  EXPECT_EQ(records[6].packedSize, 4u);                          // deep.txt
  EXPECT_LT(records[7].packedSize, 20u);                         // esc.bin
  EXPECT_EQ(records[8].packedSize, 0u);                          // z
  const uint8_t endRecord[] = {0x0B, 0xB1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(Bytes(image.end() - 13, image.end()) == Bytes(endRecord, endRecord + 13));

  // --store keeps every file as it is.
  ASSERT_EQ(Pack(app_, out_ / "stored.exe", {"--store"}), 0) << err_text_;
  for (const Record& r : ReadSetup(out_ / "stored.exe")) {
    EXPECT_EQ(r.packedSize, r.contents.size()) << r.name;
  }
}

// The bytes depend on the folder's contents alone: not on the number of
// jobs, the order in which the file system lists names, time stamps or
// file modes.
TEST_F(PackTest, SameFolderGivesTheSameBytes) {
  auto fill = [&](const fs::path& app, bool reversed) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("file" + std::to_string(i * 7919 % 40) + ".dat");
    if (reversed) std::reverse(names.begin(), names.end());
    fs::create_directories(app / "sub");
    for (const std::string& name : names) {
      std::string contents;
      for (int j = 0; j < 3000; ++j) contents += name[4 + j % 2] + std::to_string(j % 13);
      WriteText(app / (reversed ? "sub" : ".") / name, contents);
      WriteText(app / (reversed ? "." : "sub") / name, contents);
    }
  };
  fill(app_, false);
  fs::path other = root_ / "other";
  fs::create_directories(other);
  fs::copy_file(app_ / "Setup.ini", other / "Setup.ini");
  fill(other, true);
  WriteText(other / "readme.txt", "Read me.\r\n");
  chmod((other / "readme.txt").c_str(), 0600);
  fs::last_write_time(other / "readme.txt",
                      fs::file_time_type::clock::now() - std::chrono::hours(50));

  ASSERT_EQ(Pack(app_, out_ / "one.exe", {"--jobs", "1"}), 0) << err_text_;
  ASSERT_EQ(Pack(app_, out_ / "two.exe", {"--jobs", "2"}), 0) << err_text_;
  ASSERT_EQ(Pack(other, out_ / "other.exe", {"--jobs", "3"}), 0) << err_text_;
  Bytes one = ReadBytes(out_ / "one.exe");
  EXPECT_TRUE(one == ReadBytes(out_ / "two.exe"));
  EXPECT_TRUE(one == ReadBytes(out_ / "other.exe"));
  EXPECT_EQ(ReadSetup(out_ / "one.exe").size(), 1 + 1 + 40 + 1 + 40 + 1u);
}

TEST_F(PackTest, OutputInsideTheFolderIsNotPackedIntoItself) {
  fs::path setup = app_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  ASSERT_EQ(ReadSetup(setup).size(), 3u);  // Setup.ini, readme.txt and the end record
}

TEST_F(PackTest, RecordNamesMayHave259BytesButNotMore) {
  fs::path folder = app_ / std::string(200, 'd');
  fs::create_directories(folder);
  WriteText(folder / std::string(58, 'f'), "x");  // 200 + 1 + 58 = 259
  ASSERT_EQ(Pack(app_, out_ / "ok.exe"), 0) << err_text_;
  EXPECT_EQ(ReadSetup(out_ / "ok.exe")[2].name.size(), MAX_NAME_LENGTH);
  // No install folder leaves room for it: a warning, on the folder alone.
  EXPECT_NE(err_text_.find(std::string(200, 'd') + ": warning: with an install folder of 63"),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(StderrLines(), 1u) << err_text_;

  WriteText(folder / std::string(59, 'g'), "x");
  EXPECT_EQ(Pack(app_, out_ / "long.exe"), 1);
  EXPECT_NE(err_text_.find(std::string(59, 'g') + ": error: its record name is 260 bytes"),
            std::string::npos)
      << err_text_;
  EXPECT_FALSE(fs::exists(out_ / "long.exe"));
}

// Host names are UTF-8; records carry the code page's bytes.
TEST_F(PackTest, NamesAreWrittenInTheCodePage) {
  WriteText(app_ / "Café €.txt", "1");
  fs::create_directories(app_ / "Überblick");
  WriteText(app_ / "Überblick" / "naïve.txt", "2");
  ASSERT_EQ(Pack(app_, out_ / "west.exe"), 0) << err_text_;
  std::vector<Record> records = ReadSetup(out_ / "west.exe");
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[1].name, "Caf\xE9 \x80.txt");
  EXPECT_EQ(records[3].name,
            "\xDC"
            "berblick");  // sorted by code-page bytes: 0xDC after 'r'
  EXPECT_EQ(records[4].name,
            "\xDC"
            "berblick\\na\xEFve.txt");

  // Cyrillic needs 1251; 1252 refuses the name and says which character.
  fs::remove_all(app_ / "Überblick");
  fs::remove(app_ / "Café €.txt");
  WriteText(app_ / "Привет.txt", "3");
  EXPECT_EQ(Pack(app_, out_ / "refused.exe"), 1);
  EXPECT_NE(err_text_.find("Привет.txt: error: its name holds the character U+041F П, which "
                           "code page 1252 cannot represent"),
            std::string::npos)
      << err_text_;
  EXPECT_FALSE(fs::exists(out_ / "refused.exe"));
  ASSERT_EQ(Pack(app_, out_ / "cyrillic.exe", {"--codepage", "1251"}), 0) << err_text_;
  EXPECT_EQ(ReadSetup(out_ / "cyrillic.exe")[2].name, "\xCF\xF0\xE8\xE2\xE5\xF2.txt");
}

TEST_F(PackTest, SymbolicLinksInsideAreFollowedOthersRefused) {
  fs::create_directories(app_ / "data");
  WriteText(app_ / "data" / "real.txt", "real");
  fs::create_symlink("data/real.txt", app_ / "alias.txt");
  fs::create_symlink("data", app_ / "more");
  ASSERT_EQ(Pack(app_, out_ / "links.exe"), 0) << err_text_;
  std::vector<Record> records = ReadSetup(out_ / "links.exe");
  ASSERT_EQ(records.size(), 8u);
  EXPECT_EQ(records[1].name, "alias.txt");
  EXPECT_EQ(std::string(records[1].contents.begin(), records[1].contents.end()), "real");
  EXPECT_EQ(records[4].name, "more");
  EXPECT_EQ(records[5].name, "more\\real.txt");

  WriteText(root_ / "outside.txt", "secret");
  fs::create_symlink(root_ / "outside.txt", app_ / "escape.txt");
  fs::create_symlink("../outside.txt", app_ / "data" / "climb.txt");
  fs::create_symlink("..", app_ / "data" / "up");
  EXPECT_EQ(Pack(app_, out_ / "refused.exe"), 1);
  EXPECT_NE(err_text_.find("escape.txt: error: is a symbolic link to " +
                           (root_ / "outside.txt").string() + ", outside "),
            std::string::npos)
      << err_text_;
  EXPECT_NE(err_text_.find("climb.txt: error: is a symbolic link"), std::string::npos);
  EXPECT_NE(err_text_.find("data/up: error: leads back into a folder above it"), std::string::npos)
      << err_text_;
  EXPECT_FALSE(fs::exists(out_ / "refused.exe"));
}

// Each refusal exits with 1, names the culprit on one line of stderr, and
// leaves the output folder as it was: an earlier output untouched and no
// temporary file.
TEST_F(PackTest, RefusalsNameTheFileAndLeaveNothingBehind) {
  fs::path setup = out_ / "setup.exe";
  struct Case {
    const char* what;
    std::function<void()> arrange;  // the app folder starts good
    std::vector<std::string> args;  // empty: pack app_ into setup with the stub
    std::string named;              // expected in the message
  };
  std::string big = (app_ / "big.bin").string();
  std::vector<Case> cases = {
      {"missing Setup.ini", [&] { fs::remove(app_ / "Setup.ini"); }, {}, "Setup.ini: error"},
      {"a script error",
       [&] {
         std::string script = GoodScript();
         script.replace(script.find("readme.txt"), 10, "nothing.txt");
         WriteText(app_ / "Setup.ini", script);
       },
       {},
       "Setup.ini:13: error: LinkTarget \"nothing.txt\" is not a file"},
      {"dangling link",
       [&] { fs::create_symlink(root_ / "gone", app_ / "gone.txt"); },
       {},
       "gone.txt: error"},
      {"backslash in a name", [&] { WriteText(app_ / "a\\b.txt", "x"); }, {}, "a\\b.txt: error"},
      {"name Windows refuses", [&] { WriteText(app_ / "what?.txt", "x"); }, {}, "what?.txt"},
      {"device name", [&] { WriteText(app_ / "aux.txt", "x"); }, {}, "aux.txt: error"},
      {"trailing dot", [&] { WriteText(app_ / "x.", "x"); }, {}, "x.: error"},
      {"names differing in case",
       [&] {
         WriteText(app_ / "read.me", "1");
         WriteText(app_ / "READ.ME", "2");
       },
       {},
       "read.me: error: differs from READ.ME only in letter case"},
      {"names differing in the case of accented letters",
       [&] {
         WriteText(app_ / "élan.txt", "1");
         WriteText(app_ / "ÉLAN.txt", "2");
       },
       {},
       "differs from ÉLAN.txt only in letter case"},
      {"file of 4 GiB",
       [&] {
         WriteText(big, "");
         fs::resize_file(big, 1ull << 32);
       },
       {},
       "big.bin"},
      {"file of 4 GiB - 1",
       [&] {
         WriteText(big, "");
         fs::resize_file(big, 0xFFFFFFFFull);
       },
       {},
       "big.bin"},
      {"missing app folder",
       [] {},
       {"pack", (root_ / "nope").string(), "-o", setup.string(), "--stub", stub_.string()},
       "nope"},
      {"missing stub",
       [] {},
       {"pack", app_.string(), "-o", setup.string(), "--stub", (root_ / "nostub.exe").string()},
       "nostub.exe"},
      {"short stub", [&] { fs::resize_file(stub_, PAYLOAD_OFFSET - 1); }, {}, "stub.exe"},
      {"long stub", [&] { fs::resize_file(stub_, PAYLOAD_OFFSET + 1); }, {}, "stub.exe"},
      {"stub that is no program",
       [&] { WriteBytes(stub_, Bytes(PAYLOAD_OFFSET, 0)); },
       {},
       "stub.exe: error: is no Windows program"},
      {"output in a missing folder",
       [] {},
       {"pack", app_.string(), "-o", (out_ / "no" / "x.exe").string(), "--stub", stub_.string()},
       "x.exe"},
      {"output is a folder",
       [&] { fs::create_directories(out_ / "dir.exe"); },
       {"pack", app_.string(), "-o", (out_ / "dir.exe").string(), "--stub", stub_.string()},
       "dir.exe"},
  };
  if (geteuid() != 0) {  // root reads any file whatever its mode
    cases.push_back({"unreadable file",
                     [&] {
                       WriteText(app_ / "secret.txt", "x");
                       fs::permissions(app_ / "secret.txt", fs::perms::none);
                     },
                     {},
                     "secret.txt"});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(app_);
    fs::remove_all(out_);
    fs::create_directories(app_);
    fs::create_directories(out_);
    WriteBytes(stub_, FakeStub());
    WriteText(app_ / "Setup.ini", GoodScript());
    WriteText(app_ / "readme.txt", "hello");
    WriteText(setup, "earlier output");
    c.arrange();

    int code = c.args.empty() ? Pack(app_, setup) : Popbox(c.args);
    EXPECT_EQ(code, 1) << err_text_;
    EXPECT_NE(err_text_.find(c.named), std::string::npos) << err_text_;
    EXPECT_EQ(StderrLines(), 1u) << err_text_;
    EXPECT_EQ(ReadText(setup), "earlier output");
    for (const auto& entry : fs::directory_iterator(out_)) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "setup.exe" || name == "dir.exe") << "left behind: " << name;
    }
  }
}

TEST_F(PackTest, CommandLine) {
  EXPECT_EQ(Popbox({}), 2);
  EXPECT_EQ(Popbox({"unpack", "x"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string()}), 2);  // no -o
  EXPECT_EQ(err_text_, "popbox pack: pack needs -o OUT.exe (see popbox pack --help)\n");
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o", "a.exe", "--bogus"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o", "a.exe", "--jobs", "0"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o", "a.exe", "--codepage", "437"}), 2);
  EXPECT_EQ(Popbox({"list"}), 2);
  EXPECT_EQ(Popbox({"extract", "a.exe"}), 2);
  EXPECT_EQ(Popbox({"check", "a", "b"}), 2);
  EXPECT_EQ(StderrLines(), 1u);
  EXPECT_FALSE(fs::exists("a.exe"));

  EXPECT_EQ(Popbox({"--help"}), 0);
  EXPECT_NE(out_text_.find("extract SETUP.exe DIR"), std::string::npos);
  for (const char* command : {"pack", "check", "verify", "list", "extract"}) {
    EXPECT_EQ(Popbox({command, "--help"}), 0) << command;
    EXPECT_EQ(out_text_.rfind(std::string("usage: popbox ") + command, 0), 0u) << out_text_;
  }
  EXPECT_EQ(Popbox({"--version"}), 0);
  EXPECT_EQ(out_text_.rfind("popbox ", 0), 0u);
}

// Without --stub: popbox-stub.exe beside the binary, else the installed
// layout's share/popbox/popbox-stub.exe.
TEST_F(PackTest, FindsItsStubBesideItOrInTheInstalledLayout) {
  fs::path beside = root_ / "tools";
  fs::create_directories(beside);
  fs::copy_file(POPBOX_EXE, beside / "popbox");
  fs::copy_file(stub_, beside / "popbox-stub.exe");
  fs::path installed = root_ / "prefix";
  fs::create_directories(installed / "bin");
  fs::create_directories(installed / "share" / "popbox");
  fs::copy_file(POPBOX_EXE, installed / "bin" / "popbox");
  fs::copy_file(stub_, installed / "share" / "popbox" / "popbox-stub.exe");

  for (const fs::path& program : {beside / "popbox", installed / "bin" / "popbox"}) {
    SCOPED_TRACE(program.string());
    fs::path setup = out_ / "setup.exe";
    ASSERT_EQ(Popbox({"pack", app_.string(), "-o", setup.string()}, program.string()), 0)
        << err_text_;
    Bytes image = ReadBytes(setup);
    EXPECT_TRUE(Bytes(image.begin(), image.begin() + PAYLOAD_OFFSET) == ReadBytes(stub_));
  }
  fs::remove(installed / "share" / "popbox" / "popbox-stub.exe");
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o", (out_ / "x.exe").string()},
                   (installed / "bin" / "popbox").string()),
            1);
  EXPECT_NE(err_text_.find("bin/popbox-stub.exe: error: cannot read the stub"), std::string::npos)
      << err_text_;
}

}  // namespace
}  // namespace popbox_packer_test
