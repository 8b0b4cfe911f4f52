// Every single-byte change and every truncation of a small real setup.
//
// The setup holds Setup.ini first (compressed by the greedy encoder), two
// folders, compressed and stored files, an empty file, and the end record.
// One folder is named ".\xAE": changing its second byte by x^0x80 makes it
// "..", so the file inside it becomes "..\f.txt" and tries to climb out of
// the install folder.
//
// For each damaged copy the reader walk must fail cleanly or hand out sound
// records (the sanitizer build sees any fault), and ExtractPayload into a
// fresh folder must write nothing beside that folder and end with true or
// with one of its known messages.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/error_slot.h"
#include "bench/greedy_encoder.h"
#include "install/extract.h"
#include "packer/encoder.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"
#include "payload/unpack.h"
#include "platform/os_api.h"
#include "script/script_document.h"

namespace fs = std::filesystem;

// Damaged size fields ask for blocks of gigabytes. In the setup's 32-bit
// process such a block cannot be had and the read fails; under ASan it
// would be mapped, and its shadow cleared, at a cost of seconds each. So
// the sanitizer build refuses blocks above 64 MiB the same way (malloc
// returns null), which also runs the reader's out-of-memory paths.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace {

using Bytes = std::vector<uint8_t>;

const char SCRIPT[] =
    "[Vendor]\r\nName=\r\nURL=\r\n\r\n[Install]\r\nTitle=Setup\r\n"
    "LinkTarget=Viewer.exe\r\nStartProgramsLink=<Programs Menu>\\Viewer.lnk\r\n"
    "DesktopLink=<Desktop>\\Viewer.lnk\r\nDefaultAppDir=<Program Files>\\Viewer\r\n\r\n"
    "[PRIVATE]\r\nNotes of the package author.\r\n";
const char SAVED_SCRIPT[] =
    "[Vendor]\r\nName=Store\r\nURL=https://shop.example/\r\n\r\n[Install]\r\nTitle=Setup\r\n"
    "LinkTarget=Viewer.exe\r\nStartProgramsLink=<Programs Menu>\\Viewer.lnk\r\n"
    "DesktopLink=<Desktop>\\Viewer.lnk\r\nDefaultAppDir=<Program Files>\\Viewer\r\n\r\n";

// Tokens written by hand: literals, a back-reference that repeats its
// pattern, a run, and an escaped 0xDF.
const Bytes README_PACKED = {'a',  'b',  'c',  0xDF, 0xA8, 0x03, 0xDF,
                             0x08, 0x78, 0xDF, 0x00, '!',  '\r', '\n'};
const char README[] = "abcabcabcabcxxxxxxxx\xDF!\r\n";

// Stored as it is: it holds the escape byte, which has no meaning here.
const Bytes VIEWER = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 0xDF, 0xDF, 0, 0xFF, 0xFF, 1, 2, 3};

const char* const KNOWN_MESSAGES[] = {
    "File Corrupted. Can't Read BLOBs.",
    "Unknown BLOB Type",
    "Can't create directory ",
    "Can't create file ",
    "Bad BLOB Name: ",
    "Path Too Long: ",
    "Can't write file ",
    "Can't save file ",
};

void Put(Bytes* out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AddRecord(Bytes* out, uint32_t type, const std::string& name, uint32_t unpackedSize,
               const Bytes& stored) {
  Put(out, popbox::BLOB_MAGIC, 2);
  Put(out, static_cast<uint32_t>(name.size()), 2);
  Put(out, unpackedSize, 4);
  Put(out, static_cast<uint32_t>(stored.size()), 4);
  Put(out, type, 1);
  out->insert(out->end(), name.begin(), name.end());
  out->insert(out->end(), stored.begin(), stored.end());
}

// The payload alone, without the stub image in front.
Bytes MakePayload() {
  Bytes payload;
  Bytes script(SCRIPT, SCRIPT + strlen(SCRIPT));
  Bytes packedScript = popbox::EncodeGreedy(script.data(), script.size());
  EXPECT_LT(packedScript.size(), script.size());
  AddRecord(&payload, popbox::BLOB_FILE, "Setup.ini", static_cast<uint32_t>(script.size()),
            packedScript);
  AddRecord(&payload, popbox::BLOB_FOLDER, "Docs", 0, {});
  AddRecord(&payload, popbox::BLOB_FILE, "Docs\\readme.txt", sizeof README - 1, README_PACKED);
  AddRecord(&payload, popbox::BLOB_FOLDER, ".\xAE", 0, {});
  AddRecord(&payload, popbox::BLOB_FILE, ".\xAE\\f.txt", 7,
            Bytes{'h', 'e', 'l', 'l', 'o', '\r', '\n'});
  AddRecord(&payload, popbox::BLOB_FILE, "Viewer.exe", static_cast<uint32_t>(VIEWER.size()),
            VIEWER);
  AddRecord(&payload, popbox::BLOB_FILE, "empty.txt", 0, {});
  AddRecord(&payload, popbox::BLOB_END, "", 0, {});
  return payload;
}

std::string MakeTempFolder(const char* what) {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/popbox-" + what + "-XXXXXX";
  if (!mkdtemp(&pattern[0])) return "";
  return pattern;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int OpenFileCount() {
  int count = 0;
  for (auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The setup file, read by thePayload as the program's own file: the stub
// image is a hole of zero bytes and the payload is rewritten in place.
class SetupFile {
 public:
  SetupFile() : folder_(MakeTempFolder("sweep-setup")), path_(folder_ + "/setup.exe") {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    popbox::thePayload = popbox::PayloadStream(fd_);
  }
  ~SetupFile() {
    popbox::thePayload = popbox::PayloadStream();
    close(fd_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  bool Write(const uint8_t* payload, size_t size) {
    if (ftruncate(fd_, 0) != 0 || ftruncate(fd_, popbox::PAYLOAD_OFFSET) != 0) return false;
    return size == 0 ||
           pwrite(fd_, payload, size, popbox::PAYLOAD_OFFSET) == static_cast<ssize_t>(size);
  }

 private:
  std::string folder_;
  std::string path_;
  int fd_;
};

// What one damaged setup gave; `fault` is empty when all checks held.
struct Outcome {
  std::string result;  // "installed" or the known message's fixed text
  std::string fault;
};

// Walks the records as both clients do and checks each one handed out.
std::string WalkRecords() {
  char name[popbox::NAME_BUFFER_SIZE];
  if (!popbox::thePayload.OpenPayload()) return "the setup file did not open";
  for (int count = 0;; ++count) {
    uint8_t* data = nullptr;
    uint32_t size = 0, type = 0;
    if (!popbox::thePayload.ReadNextBlob(name, &data, &size, &type)) {
      if (data) return "a failed read handed out a buffer";
      break;
    }
    bool sound = data[size] == 0 && strlen(name) <= popbox::MAX_NAME_LENGTH;
    popbox::ReleaseBlob(data);
    if (!sound) return "a record came without its terminating zero";
    if (type == popbox::BLOB_END) break;
    if (count > 1000) return "the walk does not end";
  }
  popbox::thePayload.ClosePayload();
  popbox::ScriptDocument script;
  script.LoadFromPayload("Setup.ini");
  return "";
}

Outcome Extract() {
  Outcome outcome;
  std::string parent = MakeTempFolder("sweep-install");
  std::string target = parent + "/target";
  if (parent.empty() || mkdir(target.c_str(), 0755) != 0) {
    outcome.fault = "no temp folder";
    return outcome;
  }
  popbox::ClearError();
  bool ok = popbox::ExtractPayload(target.c_str(), "Store", "https://shop.example/");
  std::string message = popbox::ErrorMessage();
  if (ok) {
    outcome.result = "installed";
    if (!message.empty()) outcome.fault = "true with a message: " + message;
  } else {
    for (const char* known : KNOWN_MESSAGES) {
      if (message.compare(0, strlen(known), known) == 0) outcome.result = known;
    }
    if (outcome.result.empty()) outcome.fault = "unknown message: " + message;
  }
  for (auto& entry : fs::directory_iterator(parent)) {
    if (entry.path().filename() != "target") {
      outcome.fault += "wrote beside the install folder: " + entry.path().string();
    }
  }
  // A read after the extraction must fail: the stream was closed.
  char name[popbox::NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t size, type;
  if (popbox::thePayload.ReadNextBlob(name, &data, &size, &type)) {
    popbox::ReleaseBlob(data);
    outcome.fault += "the stream stayed open";
  }
  std::error_code ignored;
  fs::remove_all(parent, ignored);
  return outcome;
}

class CorruptionSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    payload_ = MakePayload();
    // The entry has loaded the script before any extraction.
    popbox::theScript.LoadFromText(SCRIPT, static_cast<int32_t>(strlen(SCRIPT)));
  }
  void TearDown() override { popbox::theScript.Clear(); }

  // Runs one damaged payload; records the outcome and the first faults.
  void Run(const Bytes& damaged, size_t size, const std::string& what) {
    ASSERT_TRUE(file_.Write(damaged.data(), size));
    std::string walk = WalkRecords();
    Outcome outcome = Extract();
    ++outcomes_[outcome.result.empty() ? "(none)" : outcome.result];
    std::string fault = walk.empty() ? outcome.fault : walk + "; " + outcome.fault;
    if (!fault.empty() && ++faults_ <= 10) ADD_FAILURE() << what << ": " << fault;
  }
  void Summary(const char* what, int cases, std::chrono::steady_clock::time_point start) {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%s: %d cases over a %zu-byte payload in %.2f s\n", what, cases, payload_.size(),
           seconds);
    for (auto& entry : outcomes_) printf("  %6d  %s\n", entry.second, entry.first.c_str());
    EXPECT_EQ(0, faults_);
  }

  Bytes payload_;
  SetupFile file_;
  std::map<std::string, int> outcomes_;
  int faults_ = 0;
};

TEST_F(CorruptionSweep, IntactSetupInstallsEverything) {
  std::string parent = MakeTempFolder("sweep-intact");
  std::string target = parent + "/target";
  ASSERT_EQ(0, mkdir(target.c_str(), 0755));
  ASSERT_TRUE(file_.Write(payload_.data(), payload_.size()));
  popbox::ClearError();
  ASSERT_TRUE(popbox::ExtractPayload(target.c_str(), "Store", "https://shop.example/"))
      << popbox::ErrorMessage();
  EXPECT_EQ(SAVED_SCRIPT, ReadFile(target + "/Setup.ini"));
  EXPECT_EQ(README, ReadFile(target + "/Docs/readme.txt"));
  EXPECT_EQ("hello\r\n", ReadFile(target + "/.\xAE/f.txt"));
  EXPECT_EQ(std::string(VIEWER.begin(), VIEWER.end()), ReadFile(target + "/Viewer.exe"));
  EXPECT_TRUE(fs::is_regular_file(target + "/empty.txt"));
  EXPECT_EQ(0u, fs::file_size(target + "/empty.txt"));
  fs::remove_all(parent);
}

// x^0x01 and x^0x80 change the lowest and the highest bit; 0xDF is the
// escape byte (0xFF where the byte is 0xDF already), and in a size field a
// huge value.
TEST_F(CorruptionSweep, EveryByteChangedThreeWays) {
  int filesBefore = OpenFileCount();
  auto start = std::chrono::steady_clock::now();
  int cases = 0;
  for (size_t at = 0; at < payload_.size(); ++at) {
    uint8_t x = payload_[at];
    const uint8_t values[] = {static_cast<uint8_t>(x ^ 0x01), static_cast<uint8_t>(x ^ 0x80),
                              static_cast<uint8_t>(x == 0xDF ? 0xFF : 0xDF)};
    for (uint8_t value : values) {
      Bytes damaged = payload_;
      damaged[at] = value;
      Run(damaged, damaged.size(), "byte " + std::to_string(at) + " = " + std::to_string(value));
      ++cases;
    }
  }
  Summary("changed bytes", cases, start);
  EXPECT_EQ(filesBefore, OpenFileCount());
}

// The one change that turns a name into a climb out of the install folder:
// ".\xAE\f.txt" becomes "..\f.txt". It is refused before anything is
// written, and the files of the records before it stay.
TEST_F(CorruptionSweep, NameThatClimbsOutIsRefused) {
  const std::string text = ".\xAE\\f.txt";
  const Bytes name(text.begin(), text.end());
  auto at = std::search(payload_.begin(), payload_.end(), name.begin(), name.end());
  ASSERT_NE(payload_.end(), at);
  Bytes damaged = payload_;
  damaged[static_cast<size_t>(at - payload_.begin()) + 1] ^= 0x80;
  ASSERT_TRUE(file_.Write(damaged.data(), damaged.size()));

  std::string parent = MakeTempFolder("sweep-climb");
  std::string target = parent + "/target";
  ASSERT_EQ(0, mkdir(target.c_str(), 0755));
  popbox::ClearError();
  EXPECT_FALSE(popbox::ExtractPayload(target.c_str(), "", ""));
  EXPECT_STREQ("Bad BLOB Name: ..\\f.txt", popbox::ErrorMessage());
  EXPECT_STREQ("Bug", popbox::ErrorCaption());
  EXPECT_TRUE(fs::is_regular_file(target + "/Docs/readme.txt"));
  EXPECT_FALSE(fs::exists(parent + "/f.txt"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(parent), fs::directory_iterator()));
  fs::remove_all(parent);
}

TEST_F(CorruptionSweep, EveryTruncation) {
  int filesBefore = OpenFileCount();
  auto start = std::chrono::steady_clock::now();
  for (size_t size = 0; size < payload_.size(); ++size) {
    Run(payload_, size, "cut to " + std::to_string(size) + " bytes");
  }
  Summary("truncations", static_cast<int>(payload_.size()), start);
  EXPECT_EQ(filesBefore, OpenFileCount());
  // Every cut copy loses at least the end record.
  EXPECT_EQ(0, outcomes_["installed"]);
}

}  // namespace
