// make-setup writes what the Wine tests say it writes: its files are read
// back here through the stub's own payload reader. Usage:
// make-setup-test PATH-OF-make-setup
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/os_api.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"

namespace {

using namespace popbox;
using Bytes = std::vector<uint8_t>;

std::string tool;

struct Record {
  bool ok = false;
  std::string name;
  uint32_t type = 0;
  std::string contents;
};

class MakeSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/make-setup-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    out_ = dir_ + "/setup.exe";
  }
  void TearDown() override {
    ClosePayload();
    OverrideOwnPath(nullptr);
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(0, system(command.c_str()));
  }

  // Runs make-setup with --out and the given arguments (already quoted for
  // the shell); returns its exit code.
  int Make(const std::string& args) {
    std::string command = "'" + tool + "' --out '" + out_ + "' " + args + " 2>/dev/null";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  Bytes Output() {
    std::ifstream in(out_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<Record> ReadAll() {
    std::vector<Record> records;
    OverrideOwnPath(out_.c_str());
    if (!OpenPayload()) return records;
    for (;;) {
      Record r;
      char name[NAME_BUFFER_SIZE];
      uint8_t* data = nullptr;
      uint32_t size = 0;
      r.ok = ReadNextBlob(name, &data, &size, &r.type);
      if (r.ok) {
        r.name = name;
        r.contents.assign(reinterpret_cast<char*>(data), size);
        ReleaseBlob(data);
      }
      records.push_back(r);
      if (!r.ok || r.type == BLOB_END) break;
    }
    ClosePayload();
    return records;
  }
  BlobHeader HeaderAt(size_t offset) {
    Bytes bytes = Output();
    EXPECT_GE(bytes.size(), offset + BLOB_HEADER_SIZE);
    return BlobHeader::Parse(bytes.data() + offset);
  }

  std::string dir_, out_;
};

TEST_F(MakeSetupTest, WellFormedRecordsReadBack) {
  {
    std::ofstream script(dir_ + "/script.ini", std::ios::binary);
    script << "[Install]\r\nTitle=T\r\n";
  }
  ASSERT_EQ(0, Make("file Setup.ini @'" + dir_ +
                    "/script.ini' folder bin packed file 'bin\\a.txt' 'x\\xDFy\\n' "
                    "packed file b.txt abc type=9 file odd ''"));
  std::vector<Record> r = ReadAll();
  ASSERT_EQ(6u, r.size());
  for (const Record& each : r) EXPECT_TRUE(each.ok) << each.name;
  EXPECT_EQ("Setup.ini", r[0].name);
  EXPECT_EQ("[Install]\r\nTitle=T\r\n", r[0].contents);
  EXPECT_EQ(BLOB_FOLDER, r[1].type);
  EXPECT_EQ("bin\\a.txt", r[2].name);
  EXPECT_EQ("x\xDFy\n", r[2].contents);
  EXPECT_EQ("abc", r[3].contents);
  EXPECT_EQ(9u, r[4].type);
  EXPECT_EQ(BLOB_END, r[5].type);
}

TEST_F(MakeSetupTest, PackedRecordsReallyAreCompressed) {
  // Without a 0xDF in the contents, literals alone would be as long as the
  // contents and the reader would take them as stored.
  ASSERT_EQ(0, Make("packed file a.txt abc"));
  BlobHeader h = HeaderAt(PAYLOAD_OFFSET);
  EXPECT_EQ(3u, h.unpackedSize);
  EXPECT_NE(h.unpackedSize, h.packedSize);
  EXPECT_NE(0, Make("packed file empty ''")) << "empty contents cannot be compressed";
}

TEST_F(MakeSetupTest, NoPayloadIsTheBareImage) {
  ASSERT_EQ(0, Make("--no-end"));
  EXPECT_EQ(PAYLOAD_OFFSET, Output().size());
  std::vector<Record> r = ReadAll();
  ASSERT_EQ(1u, r.size());
  EXPECT_FALSE(r[0].ok);
}

TEST_F(MakeSetupTest, BrokenRecordsFailToRead) {
  // Each breaks the first record; the reader must refuse it.
  const char* broken[] = {
      "magic=0xB10C file Setup.ini x",
      "unpacked=4 packed file Setup.ini abc",  // unpacks to 3
      "packed-size=100 file Setup.ini abc",   "name-length=300 file Setup.ini abc",
      "--no-end --cut 1 file Setup.ini abc",  "--no-end raw 0bb1",
  };
  for (const char* args : broken) {
    ASSERT_EQ(0, Make(args)) << args;
    std::vector<Record> r = ReadAll();
    ASSERT_FALSE(r.empty()) << args;
    EXPECT_FALSE(r[0].ok) << args;
  }
}

TEST_F(MakeSetupTest, StubMustBeExactlyThePayloadOffset) {
  {
    std::ofstream stub(dir_ + "/short.exe", std::ios::binary);
    stub << "MZ";
  }
  EXPECT_NE(0, Make("--stub '" + dir_ + "/short.exe'"));
  EXPECT_NE(0, Make("packed")) << "a modifier with no record";
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: make-setup-test PATH-OF-make-setup\n");
    return 2;
  }
  tool = argv[1];
  return RUN_ALL_TESTS();
}
