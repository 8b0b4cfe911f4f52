// The pure text operations of the installation: composing targets, parent
// folders, safe record names, the typed install folder and the web address.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install_checks.h"
#include "install/install_paths.h"
#include "install_test_support.h"
#include "ui/web_address.h"

using itest::PathBuffer;

namespace {

TEST(ComposePath, FitsUpTo259CharactersAndRefusesMoreWithoutOverrun) {
  PathBuffer target;
  EXPECT_TRUE(popbox::ComposePath(target.Data(), "C:\\Apps", "bin\\Viewer.exe"));
  EXPECT_EQ(target.Text(), "C:\\Apps\\bin\\Viewer.exe");

  const std::string folder(200, 'f');
  EXPECT_TRUE(popbox::ComposePath(target.Data(), folder.c_str(), std::string(58, 'n').c_str()));
  EXPECT_EQ(target.Text(), folder + "\\" + std::string(58, 'n'));

  // 260 characters: refused and left empty. The buffer is a heap block of
  // exactly 260 bytes, so the sanitizer build sees any write past it.
  EXPECT_FALSE(popbox::ComposePath(target.Data(), folder.c_str(), std::string(59, 'n').c_str()));
  EXPECT_EQ(target.Text(), "");
  EXPECT_FALSE(popbox::ComposePath(target.Data(), std::string(259, 'f').c_str(), "n"));
}

TEST(ParentFolderOf, CutsAtTheLastBackslashAndKeepsARoot) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Apps\\Viewer\\Viewer.exe", "C:\\Apps\\Viewer"},
      {"C:\\Viewer.exe", "C:\\"},
      {"\\Viewer.exe", "\\"},
      {"Viewer.exe", ""},
      {"", ""},
      {"\\\\server\\share\\Viewer.exe", "\\\\server\\share"},
      {"C:\\Apps\\", "C:\\Apps"},
      {"C:/Apps/Viewer.exe", ""},  // the slash is no separator here
  };
  for (const auto& c : cases) {
    PathBuffer path(c.first);
    popbox::ParentFolderOf(path.Data());
    EXPECT_EQ(path.Text(), c.second) << c.first;
  }
}

TEST(IsSafeRecordName, AcceptsOnlyNamesThatStayInside) {
  for (const char* name : {"a", "a\\b", "a b\\c.txt", "..a", " a\\.b", "Setup.ini", "CONSOLE",
                           "com10", "nul_file", "COM0"}) {
    EXPECT_TRUE(popbox::IsSafeRecordName(name)) << name;
  }
  for (const char* name : {"",
                           "..",
                           "..\\x",
                           "../x",
                           "sub\\..\\..\\x",
                           "sub/../../x",
                           "\\x",
                           "/x",
                           "C:x",
                           "C:\\x",
                           "\\\\server\\share\\x",
                           "x:stream",
                           ".",
                           "a\\\\b",
                           "a\\",
                           "a/",
                           "a\\.\\b",
                           "a\\..",
                           "a/./b",
                           "CON",
                           "nul.txt",
                           "sub\\Com1",
                           "lpt9.log",
                           "aux .txt",
                           "x.",
                           "a..\\b",
                           "...",
                           ".. \\x",
                           "sub \\x",
                           "x "}) {
    EXPECT_FALSE(popbox::IsSafeRecordName(name)) << name;
  }
}

TEST(InstallDir, NormalizeTrimsAndDropsOneTrailingBackslash) {
  const std::pair<const char*, const char*> cases[] = {
      {" \t C:\\Apps\\Viewer\\\t  ", "C:\\Apps\\Viewer"},
      {"C:\\Apps\\Viewer", "C:\\Apps\\Viewer"},
      {"C:\\", "C:"},
      {"C:\\Apps\\\\", "C:\\Apps\\"},
      {"C:\\Apps\\ ", "C:\\Apps"},
      {" \t\r\n", ""},
      {"", ""},
      {"\\", ""},
  };
  for (const auto& c : cases) {
    PathBuffer text(c.first);
    popbox::NormalizeInstallDir(text.Data());
    EXPECT_EQ(text.Text(), c.second) << c.first;
  }
}

TEST(InstallDir, AbsoluteMeansADrivePathOrAFolderBelowAShare) {
  for (const char* path :
       {"C:\\A", "c:\\apps", "z:\\a\\b", "\\\\server\\share\\apps", "C:\\Apps\\..\\x"}) {
    EXPECT_TRUE(popbox::IsAbsolutePath(path)) << path;
  }
  for (const char* path :
       {"", "C:", "C:\\", "C:\\Apps\\", "C:apps", "C:/apps", "1:\\apps", "@:\\a", "[:\\a", "`:\\a",
        "{:\\a", "\xC1:\\a", "\xE1:\\a", "\\apps", "Apps\\Viewer", "\\\\server\\share",
        "\\\\server", "\\\\server\\share\\", "/usr/apps"}) {
    EXPECT_FALSE(popbox::IsAbsolutePath(path)) << path;
  }
}

TEST(NormalizeWebAddress, PutsHttpInFrontOfAnythingWithoutAnExactScheme) {
  const std::pair<const char*, const char*> cases[] = {
      {"shop.example.com", "http://shop.example.com"},
      {" \t shop.example.com/a b \r\n", "http://shop.example.com/a b"},
      {"http://shop.example.com", "http://shop.example.com"},
      {"  https://shop.example.com  ", "https://shop.example.com"},
      {"HTTP://shop", "http://HTTP://shop"},
      {"Https://shop", "http://Https://shop"},
      {"ftp://shop", "http://ftp://shop"},
      {"http:/shop", "http://http:/shop"},
      {"http://", "http://"},
      {"https:/", "http://https:/"},
      {"", ""},
      {" \t ", ""},
  };
  for (const auto& c : cases) {
    std::vector<char> text(popbox::WEB_ADDRESS_SIZE);
    strcpy(text.data(), c.first);
    popbox::NormalizeWebAddress(text.data());
    EXPECT_STREQ(text.data(), c.second) << c.first;
  }
}

TEST(NormalizeWebAddress, SixtyNineTypedCharactersBecomeSeventySix) {
  const std::string typed = "shop.example.com/" + std::string(52, 'p');
  ASSERT_EQ(typed.size(), 69u);
  std::vector<char> text(popbox::WEB_ADDRESS_SIZE);  // exactly 77 bytes
  strcpy(text.data(), typed.c_str());
  popbox::NormalizeWebAddress(text.data());
  EXPECT_EQ(std::string(text.data()), "http://" + typed);
  EXPECT_EQ(strlen(text.data()), 76u);
}

}  // namespace
