// The install folder checks on the host file system: CreateFolderTree with
// Windows-style paths below a temp folder, and CheckTargetsFree with a
// script loaded from text and shell folders from the registry table.
#include "install/install_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "install_test_support.h"
#include "script/script_document.h"

using itest::Bug;
using itest::CannotInstall;
using itest::PathBuffer;
using itest::Report;
namespace fs = std::filesystem;

namespace {

const char UPGRADE_HINT[] =
    "\n\nIf you are trying to upgrade a Quorvane\napplication, first uninstall the old "
    "application\n(run it and click File | Uninstall).";

TEST(CreateFolderTree, CreatesMissingParentsFirstAndRestoresTheBuffer) {
  itest::TempDir tmp;
  const std::string path = tmp.Path() + "\\One\\Two\\Three";
  PathBuffer buffer(path);
  EXPECT_TRUE(popbox::CreateFolderTree(buffer.Data()));
  EXPECT_EQ(buffer.Text(), path);
  EXPECT_TRUE(fs::is_directory(tmp.Path() + "/One/Two/Three"));

  // Existing folders are fine, and so is a text without any backslash.
  EXPECT_TRUE(popbox::CreateFolderTree(buffer.Data()));
  buffer.Set(tmp.Path() + "\\One");
  EXPECT_TRUE(popbox::CreateFolderTree(buffer.Data()));
  buffer.Set("popbox-itest-no-backslash");
  EXPECT_TRUE(popbox::CreateFolderTree(buffer.Data()));
  EXPECT_FALSE(fs::exists("popbox-itest-no-backslash"));
}

TEST(CreateFolderTree, AFileOnTheWayFailsAndCreatesNothing) {
  itest::TempDir tmp;
  itest::WriteFile(tmp.Path() + "/File", "x");
  const std::string path = tmp.Path() + "\\File\\Sub\\Deeper";
  PathBuffer buffer(path);
  EXPECT_FALSE(popbox::CreateFolderTree(buffer.Data()));
  EXPECT_EQ(buffer.Text(), path);
  EXPECT_TRUE(fs::is_regular_file(tmp.Path() + "/File"));

  buffer.Set(tmp.Path() + "\\File");  // the file itself is no folder
  EXPECT_FALSE(popbox::CreateFolderTree(buffer.Data()));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);
}

TEST(CreateFolderTree, AFolderThatCannotBeMadeFailsAndKeepsItsParents) {
  itest::TempDir tmp;
  // A name longer than the host allows for one element. The operation does
  // not depend on the 260-byte buffer, so a longer text is fine here.
  std::string path = tmp.Path() + "\\One\\Two\\" + std::string(300, 'x');
  EXPECT_FALSE(popbox::CreateFolderTree(&path[0]));
  EXPECT_TRUE(fs::is_directory(tmp.Path() + "/One/Two"));
}

class CheckTargetsFreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    popbox::ClearError();
    popbox::ClearRegistryTable();
    itest::SetShellFolder("Programs", (tmp_.Path() + "/menu").c_str());
    itest::SetShellFolder("Desktop", (tmp_.Path() + "/desk").c_str());
    fs::create_directory(tmp_.Path() + "/menu");
    fs::create_directory(tmp_.Path() + "/desk");
    Load(
        "[Install]\r\nStartProgramsLink=<Programs Menu>\\Viewer.lnk\r\n"
        "DesktopLink=<Desktop>\\Viewer.lnk\r\n[Vendor]\r\nName=x\r\n");
    installDir_ = tmp_.Path() + "\\Viewer";
  }
  void TearDown() override {
    popbox::theScript.Clear();
    popbox::ClearRegistryTable();
  }
  void Load(const std::string& text) {
    popbox::theScript.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  }
  bool Check() {
    popbox::ClearError();
    return popbox::CheckTargetsFree(installDir_.c_str());
  }

  itest::TempDir tmp_;
  std::string installDir_;
};

TEST_F(CheckTargetsFreeTest, PassesWhenNothingExistsAndLeavesInstallSelected) {
  popbox::theScript.SelectSection("Vendor");
  EXPECT_TRUE(Check());
  EXPECT_FALSE(popbox::HasError());
  PathBuffer value;
  EXPECT_TRUE(popbox::theScript.GetString("DesktopLink", value.Data(), 260));
  EXPECT_FALSE(fs::exists(tmp_.Path() + "/Viewer"));
}

TEST_F(CheckTargetsFreeTest, AnExistingFolderOrFileOfThatNameIsRefused) {
  const auto refusal =
      CannotInstall(std::string("The folder you specified already exists.") + UPGRADE_HINT);
  fs::create_directory(tmp_.Path() + "/Viewer");
  EXPECT_FALSE(Check());
  EXPECT_EQ(Report(), refusal);

  fs::remove(tmp_.Path() + "/Viewer");
  itest::WriteFile(tmp_.Path() + "/Viewer", "not a folder");
  EXPECT_FALSE(Check());
  EXPECT_EQ(Report(), refusal);
}

TEST_F(CheckTargetsFreeTest, AnExistingShortcutIsRefused) {
  const auto refusal = CannotInstall(std::string("Cannot overwrite shortcuts.") + UPGRADE_HINT);
  for (const char* link : {"/menu/Viewer.lnk", "/desk/Viewer.lnk"}) {
    itest::WriteFile(tmp_.Path() + link, "lnk");
    EXPECT_FALSE(Check()) << link;
    EXPECT_EQ(Report(), refusal) << link;
    fs::remove(tmp_.Path() + link);
  }
  EXPECT_TRUE(Check());
}

TEST_F(CheckTargetsFreeTest, ScriptFaultsAreBugsWithoutTheHint) {
  Load(
      "[Install]\r\nStartProgramsLink=<Programs "
      "Menu>\\Viewer.lnk\r\n[Vendor]\r\nDesktopLink=x\r\n");
  EXPECT_FALSE(Check());
  EXPECT_EQ(Report(), Bug("INI Symbol Undefined: DesktopLink"));

  Load("[Install]\r\nStartProgramsLink=<Programs Menu>\\Viewer.lnk\r\nDesktopLink=x\r\n");
  itest::SetShellFolder("Programs", nullptr);
  EXPECT_FALSE(Check());
  EXPECT_EQ(Report(), Bug("Macro Undefined: Programs Menu"));
}

}  // namespace
