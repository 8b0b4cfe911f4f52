// The popbox binary end to end: a fixture with a temporary application
// folder, a stub, an output folder, and a runner that captures the exit
// code, stdout and stderr; plus a reader of setups through the stub's own
// reader.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload_format.h"
#include "payload/payload_stream.h"
#include "platform/os_api.h"

extern char** environ;

namespace popbox_packer_test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
inline void WriteText(const fs::path& path, const std::string& text) {
  WriteBytes(path, Bytes(text.begin(), text.end()));
}
inline Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline std::string ReadText(const fs::path& path) {
  Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

inline Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// A stub image that passes for a Windows program: MZ, a PE header at 0x80,
// random bytes elsewhere (the packer never looks further).
inline Bytes FakeStub() {
  Bytes stub = RandomBytes(popbox::PAYLOAD_OFFSET, 99);
  stub[0] = 'M';
  stub[1] = 'Z';
  stub[0x3C] = 0x80;
  stub[0x3D] = stub[0x3E] = stub[0x3F] = 0;
  const uint8_t pe[] = {'P', 'E', 0, 0, 0x4C, 0x01};
  std::copy(std::begin(pe), std::end(pe), stub.begin() + 0x80);
  stub[0x80 + 24] = 0x0B;  // PE32 optional header
  stub[0x80 + 25] = 0x01;
  std::fill(stub.begin() + 0x80 + 24 + 96, stub.begin() + 0x80 + 24 + 96 + 16 * 8, 0);
  return stub;
}

// A Setup.ini that check accepts without a warning; LinkTarget is readme.txt.
inline std::string GoodScript() {
  return "[Vendor]\r\nName=Example Corp\r\nURL=\r\n\r\n"
         "[Install]\r\n"
         "Title=Example Setup\r\n"
         "AppDirCaption=Install Example to:\r\n"
         "DefaultAppDir=<Program Files>\\Example\r\n"
         "StartProgramsLink=<Programs Menu>\\Example.lnk\r\n"
         "StartProgramsLinkSelected=TRUE\r\n"
         "DesktopLink=<Desktop>\\Example.lnk\r\n"
         "DesktopLinkSelected=no\r\n"
         "LinkTarget=readme.txt\r\n"
         "\r\n[Installed Message]\r\nExample is installed.\r\n";
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
inline std::vector<Record> ReadSetup(const fs::path& setup) {
  using namespace popbox;
  std::vector<Record> records;
  Bytes raw = ReadBytes(setup);
  size_t offset = PAYLOAD_OFFSET;
  std::string path = setup.string();
  FileHandle file = OpenForReading(path.c_str());
  PayloadStream payload(file);
  EXPECT_TRUE(payload.OpenPayload());
  for (;;) {
    char name[NAME_BUFFER_SIZE];
    uint8_t* data = nullptr;
    uint32_t size = 0, type = 0;
    if (!payload.ReadNextBlob(name, &data, &size, &type)) {
      ADD_FAILURE() << "record " << records.size() + 1 << " does not read";
      break;
    }
    BlobHeader header = BlobHeader::Parse(raw.data() + offset);
    offset += BLOB_HEADER_SIZE + header.nameLength + header.packedSize;
    records.push_back({type, name, Bytes(data, data + size), header.packedSize});
    ReleaseBlob(data);
    if (type == BLOB_END) break;
  }
  payload.ClosePayload();
  if (file != INVALID_FILE) CloseFile(file);
  EXPECT_EQ(offset, raw.size()) << "the end record must end the file";
  return records;
}

// Every file and folder below `root`, relative, with the contents of files
// ("/" for folders), for comparing trees.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).string();
    tree[relative] = entry.is_directory() ? "/" : ReadText(entry.path());
  }
  return tree;
}

class PackerTest : public ::testing::Test {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/popbox-packer-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    app_ = root_ / "app";
    out_ = root_ / "out";
    fs::create_directories(app_);
    fs::create_directories(out_);
    stub_ = root_ / "stub.exe";
    WriteBytes(stub_, FakeStub());
    WriteText(app_ / "Setup.ini", GoodScript());
    WriteText(app_ / "readme.txt", "Read me.\r\n");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }

  // Runs popbox; stdout and stderr land in out_text_ and err_text_.
  int Popbox(const std::vector<std::string>& args, const std::string& program = POPBOX_EXE) {
    std::vector<std::string> argv = {program};
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
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    out_text_ = ReadText(outFile);
    err_text_ = ReadText(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int Pack(const fs::path& app, const fs::path& output, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"pack",          app.string(), "-o",
                                     output.string(), "--stub",     stub_.string()};
    args.insert(args.end(), more.begin(), more.end());
    return Popbox(args);
  }

  size_t StderrLines() const { return std::count(err_text_.begin(), err_text_.end(), '\n'); }

  fs::path root_, app_, out_, stub_;
  std::string out_text_, err_text_;
};

}  // namespace popbox_packer_test
