// Helpers of the packer tests: an application folder, the popbox binary run
// with its output captured, and setups read back with the setup's reader.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "packer/setup_reader.h"
#include "tests/support/small_stub.h"
#include "tests/unit/support.h"

namespace test {

inline Bytes Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = uint8_t(random());
  return out;
}

// A stub that passes for a Windows program.
inline Bytes FakeStub() { return SmallStub(8192); }

// A Setup.ini that check takes without a word; LinkTarget is readme.txt.
inline std::string GoodScript() {
  return "[Vendor]\r\nName=Example Corp\r\nURL=\r\n\r\n[Install]\r\nTitle=Example Setup\r\n"
         "AppDirCaption=Install Example to:\r\nDefaultAppDir=<Program Files>\\Example\r\n"
         "StartProgramsLink=<Programs Menu>\\Example.lnk\r\nStartProgramsLinkSelected=TRUE\r\n"
         "DesktopLink=<Desktop>\\Example.lnk\r\nDesktopLinkSelected=no\r\n"
         "LinkTarget=readme.txt\r\n\r\n[Installed Message]\r\nExample is installed.\r\n";
}

struct Record {
  uint32_t type;
  std::string name;
  std::string contents;
  uint32_t packedSize;
};

inline std::vector<Record> ReadSetup(const std::string& path) {
  std::vector<Record> records;
  popbox::SetupReader reader(path);
  for (;;) {
    popbox::SetupRecord r = reader.Next(true);
    records.push_back(
        {r.type, r.name, std::string(r.contents.begin(), r.contents.end()), r.packedSize});
    if (r.type == popbox::BLOB_END) return records;
  }
}

// Every file and folder below `root` with its contents ("/" for folders).
inline std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root))
    tree[fs::relative(e.path(), root).string()] =
        e.is_directory() ? "/" : ReadFile(e.path().string());
  return tree;
}

class Packer : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app);
    WriteFile(stub, FakeStub());
    WriteFile(app + "/Setup.ini", B(GoodScript()));
    WriteFile(app + "/readme.txt", B("Read me.\r\n"));
  }
  // Runs popbox; its stdout and stderr land in out and err.
  int Popbox(std::vector<std::string> args, std::string command = POPBOX_EXE) {
    for (const std::string& a : args) command += " '" + a + "'";
    int status = system((command + " >" + temp / "out.txt" + " 2>" + temp / "err.txt").c_str());
    out = ReadFile(temp / "out.txt");
    err = ReadFile(temp / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // popbox exits with `code` and says `said`, on stdout or stderr.
  ::testing::AssertionResult Says(int code, const std::vector<std::string>& args,
                                  const std::string& said,
                                  const std::string& command = POPBOX_EXE) {
    int got = Popbox(args, command);
    if (got == code && (out + err).find(said) != std::string::npos)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << got << " (not " << code << "), and " << out
                                         << err << "(without \"" << said << "\")";
  }
  int Pack(const std::string& output, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"pack", app, "-o", output, "--stub", stub};
    args.insert(args.end(), more.begin(), more.end());
    return Popbox(args);
  }
  // A temporary file of pack's lies beside its output.
  bool Staged() const {
    for (const auto& e : fs::directory_iterator(temp.path))
      if (e.path().filename().string().rfind(".popbox-", 0) == 0) return true;
    return false;
  }
  TempFolder temp;
  std::string app = temp / "app", stub = temp / "stub.exe", setup = temp / "setup.exe";
  std::string out, err;
};

}  // namespace test
