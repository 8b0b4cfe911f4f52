// The popbox binary end to end: a pack read back with the stub's own
// reader, list, and every refusal leaving no output behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/os_api.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"

extern char** environ;

namespace popbox {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
void WriteText(const fs::path& path, const std::string& text) {
  WriteBytes(path, Bytes(text.begin(), text.end()));
}
Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
std::string ReadText(const fs::path& path) {
  Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

struct Record {
  uint32_t type;
  std::string name;
  Bytes contents;
  uint32_t packedSize;  // from the raw header
};

// Every record up to and including the end record, through the stub's
// reader; the packed sizes come from walking the raw headers alongside.
// Fails the test when a read fails or bytes follow the end record.
std::vector<Record> ReadSetup(const fs::path& setup) {
  std::vector<Record> records;
  Bytes raw = ReadBytes(setup);
  size_t offset = PAYLOAD_OFFSET;
  std::string path = setup.string();
  OverrideOwnPath(path.c_str());
  EXPECT_TRUE(OpenPayload());
  for (;;) {
    char name[NAME_BUFFER_SIZE];
    uint8_t* data = nullptr;
    uint32_t size = 0, type = 0;
    if (!ReadNextBlob(name, &data, &size, &type)) {
      ADD_FAILURE() << "record " << records.size() + 1 << " does not read";
      break;
    }
    BlobHeader header = BlobHeader::Parse(raw.data() + offset);
    offset += BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
    records.push_back({type, name, Bytes(data, data + size), header.packedSize});
    ReleaseBlob(data);
    if (type == BLOB_END) break;
  }
  ClosePayload();
  OverrideOwnPath(nullptr);
  EXPECT_EQ(offset, raw.size()) << "the end record must end the file";
  return records;
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/popbox-packer-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    app_ = root_ / "app";
    out_ = root_ / "out";
    fs::create_directories(app_);
    fs::create_directories(out_);
    stub_ = root_ / "stub.exe";
    Bytes stub = RandomBytes(PAYLOAD_OFFSET, 99);
    stub[0] = 'M';
    stub[1] = 'Z';
    WriteBytes(stub_, stub);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Runs popbox; stdout and stderr land in out_text_ and err_text_.
  int Popbox(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {POPBOX_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);

    std::string outFile = (root_ / "stdout.txt").string();
    std::string errFile = (root_ / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid;
    int spawned = posix_spawn(&pid, POPBOX_EXE, &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    out_text_ = ReadText(outFile);
    err_text_ = ReadText(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int Pack(const fs::path& app, const fs::path& output) {
    return Popbox({"pack", app.string(), "-o", output.string(), "--stub", stub_.string()});
  }

  fs::path root_, app_, out_, stub_;
  std::string out_text_, err_text_;
};

TEST_F(PackTest, PackedFolderReadsBackInOrderAndByteExact) {
  std::string script = "[Install]\r\nTitle=Test\r\n";
  for (int i = 0; i < 20; ++i) script += "Key" + std::to_string(i) + "=value value value\r\n";
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i % 7) + " of the readme\n";
  Bytes escapes(500, ESCAPE_BYTE);
  escapes[250] = 'x';

  WriteText(app_ / "Setup.ini", script);
  WriteText(app_ / "Readme.TXT", text);              // compressed
  WriteBytes(app_ / "a.bin", RandomBytes(3000, 1));  // stored: random
  fs::create_directories(app_ / "b" / "inner");
  WriteText(app_ / "b" / "empty.txt", "");
  WriteText(app_ / "b" / "inner" / "deep.txt", "abcd");   // stored: equal size
  WriteBytes(app_ / "b" / "inner" / "esc.bin", escapes);  // compressed
  fs::create_directories(app_ / "z");

  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
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

  // The same folder packs to the same bytes, and list shows each record.
  fs::path again = out_ / "again.exe";
  ASSERT_EQ(Pack(app_, again), 0) << err_text_;
  EXPECT_TRUE(ReadBytes(again) == image);

  ASSERT_EQ(Popbox({"list", setup.string()}), 0) << err_text_;
  std::istringstream lines(out_text_);
  std::vector<std::string> listed;
  for (std::string line; std::getline(lines, line);) listed.push_back(line);
  ASSERT_EQ(listed.size(), std::size(expected));
  EXPECT_EQ(listed.front().rfind("FILE", 0), 0u);
  EXPECT_NE(listed.front().find(" Setup.ini"), std::string::npos);
  EXPECT_EQ(listed.back().rfind("END", 0), 0u);
}

TEST_F(PackTest, OutputInsideTheFolderIsNotPackedIntoItself) {
  WriteText(app_ / "Setup.ini", "[Install]\r\n");
  fs::path setup = app_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  std::vector<Record> records = ReadSetup(setup);
  ASSERT_EQ(records.size(), 2u);  // Setup.ini and the end record
}

TEST_F(PackTest, RecordNamesMayHave259BytesButNotMore) {
  WriteText(app_ / "Setup.ini", "[Install]\r\n");
  fs::path folder = app_ / std::string(200, 'd');
  fs::create_directories(folder);
  WriteText(folder / std::string(58, 'f'), "x");  // 200 + 1 + 58 = 259
  ASSERT_EQ(Pack(app_, out_ / "ok.exe"), 0) << err_text_;
  EXPECT_EQ(ReadSetup(out_ / "ok.exe")[2].name.size(), MAX_NAME_LENGTH);

  WriteText(folder / std::string(59, 'g'), "x");
  EXPECT_EQ(Pack(app_, out_ / "long.exe"), 1);
  EXPECT_NE(err_text_.find(std::string(59, 'g')), std::string::npos) << err_text_;
  EXPECT_FALSE(fs::exists(out_ / "long.exe"));
}

// Each refusal exits with 1, names the culprit on one line of stderr, and
// leaves the output folder as it was: an earlier output untouched and no
// temporary file.
TEST_F(PackTest, RefusalsNameTheFileAndLeaveNothingBehind) {
  fs::path setup = out_ / "setup.exe";
  struct Case {
    const char* what;
    std::function<void()> arrange;  // the app folder starts with a good Setup.ini
    std::vector<std::string> args;  // empty: pack app_ into setup with the stub
    std::string named;              // expected in the message
  };
  std::string big = (app_ / "big.bin").string();
  std::vector<Case> cases = {
      {"missing Setup.ini", [&] { fs::remove(app_ / "Setup.ini"); }, {}, "Setup.ini"},
      {"dangling link",
       [&] { fs::create_symlink(root_ / "gone", app_ / "gone.txt"); },
       {},
       "gone.txt"},
      {"backslash in a name", [&] { WriteText(app_ / "a\\b.txt", "x"); }, {}, "a\\b.txt"},
      {"name Windows refuses", [&] { WriteText(app_ / "what?.txt", "x"); }, {}, "what?.txt"},
      {"names differing in case",
       [&] {
         WriteText(app_ / "read.me", "1");
         WriteText(app_ / "READ.ME", "2");
       },
       {},
       "READ.ME"},
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
    WriteBytes(stub_, RandomBytes(PAYLOAD_OFFSET, 99));
    WriteText(app_ / "Setup.ini", "[Install]\r\n");
    WriteText(app_ / "readme.txt", "hello");
    WriteText(setup, "earlier output");
    c.arrange();

    int code = c.args.empty() ? Pack(app_, setup) : Popbox(c.args);
    EXPECT_EQ(code, 1) << err_text_;
    EXPECT_NE(err_text_.find(c.named), std::string::npos) << err_text_;
    EXPECT_EQ(std::count(err_text_.begin(), err_text_.end(), '\n'), 1) << err_text_;
    EXPECT_EQ(ReadText(setup), "earlier output");
    for (const auto& entry : fs::directory_iterator(out_)) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "setup.exe" || name == "dir.exe") << "left behind: " << name;
    }
  }
  fs::permissions(app_, fs::perms::all);
}

TEST_F(PackTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Popbox({}), 2);
  EXPECT_EQ(Popbox({"unpack", "x"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string()}), 2);  // no -o
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o"}), 2);
  EXPECT_EQ(Popbox({"pack", app_.string(), "-o", "a.exe", "--bogus"}), 2);
  EXPECT_EQ(Popbox({"list"}), 2);
  EXPECT_EQ(Popbox({"--help"}), 0);
}

TEST_F(PackTest, ListRefusesWhatTheStubCouldNotRead) {
  WriteText(app_ / "Setup.ini", std::string(400, 'a') + "[Install]\r\n");
  fs::path setup = out_ / "setup.exe";
  ASSERT_EQ(Pack(app_, setup), 0) << err_text_;
  Bytes good = ReadBytes(setup);

  struct Case {
    const char* what;
    Bytes image;
  };
  Bytes noEnd(good.begin(), good.end() - 13);
  Bytes cut(good.begin(), good.end() - 20);
  Bytes damaged = good;
  damaged[PAYLOAD_OFFSET + BLOB_HEADER_SIZE + 9] = 0x41;  // the first token, a run of 'a'
  const Case cases[] = {{"stub alone", ReadBytes(stub_)},
                        {"no end record", noEnd},
                        {"cut inside a record", cut},
                        {"contents that do not unpack", damaged},
                        {"not a setup", Bytes(100, 'x')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path bad = out_ / "bad.exe";
    WriteBytes(bad, c.image);
    EXPECT_EQ(Popbox({"list", bad.string()}), 1);
    EXPECT_NE(err_text_.find("bad.exe"), std::string::npos) << err_text_;
  }
  EXPECT_EQ(Popbox({"list", (out_ / "missing.exe").string()}), 1);
  EXPECT_NE(err_text_.find("missing.exe"), std::string::npos) << err_text_;
}

}  // namespace
}  // namespace popbox
