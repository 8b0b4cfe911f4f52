// The script document's block: growth, copying, loading from a payload and
// saving to a file.
#include "script/script_document.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "base/error_slot.h"
#include "test_support.h"

using namespace popbox;
using popbox_test::Bytes;
using popbox_test::Doc;
using popbox_test::PayloadImage;

namespace {

// A 100-byte script whose second section's body starts at offset 55.
std::string HundredBytes() {
  std::string text = "[A]\r\n" + std::string(43, ';') + "\r\n[B]\r\nk=v\r\n";
  return text + std::string(100 - text.size(), ';');
}

TEST(ScriptBlock, ReserveGrowsByWhatIsAskedPlusSlack) {
  Doc doc;
  doc.Reserve(0);
  doc.Reserve(-5);
  EXPECT_EQ(nullptr, doc.Text());
  doc.Reserve(10);
  EXPECT_EQ(266, doc.Capacity());
  EXPECT_EQ(0, doc.Length());
  const char* block = doc.Text();
  doc.Reserve(200);
  EXPECT_EQ(block, doc.Text());

  doc.Load(HundredBytes());
  ASSERT_EQ(356, doc.Capacity());
  ASSERT_TRUE(doc.SelectSection("B"));
  block = doc.Text();
  doc.Reserve(256);
  EXPECT_EQ(block, doc.Text());
  doc.Reserve(257);
  EXPECT_EQ(613, doc.Capacity());
  EXPECT_EQ(HundredBytes(), doc.Str());
  EXPECT_EQ(55, doc.Cursor() - doc.Text()) << "the cursor keeps its offset";
  EXPECT_EQ("v", doc.Get("k"));
  EXPECT_EQ("<false>", doc.Get("absent")) << "the scan from the cursor ends in the new block";
}

// A value edit that fills the block to its last byte leaves no room for
// the terminating zero: the block must grow by 257 bytes.
TEST(ScriptBlock, TerminatingAFullBlockGrowsIt) {
  Doc doc(HundredBytes());
  ASSERT_TRUE(doc.SelectSection("B"));
  ASSERT_TRUE(doc.SetValue("k", std::string(257, 'x').c_str()));
  EXPECT_EQ(356, doc.Length());
  EXPECT_EQ(356 + 257, doc.Capacity());
  EXPECT_EQ(0, doc.Text()[356]);
}

TEST(ScriptBlock, ClearAndCopy) {
  Doc doc("[A]\r\nk=1\r\n");
  ASSERT_TRUE(doc.SelectSection("A"));
  Doc copy(doc);
  EXPECT_EQ(doc.Str(), copy.Str());
  EXPECT_EQ(doc.Length() + 256, copy.Capacity());
  EXPECT_NE(doc.Text(), copy.Text()) << "a copy owns its own block";
  EXPECT_EQ(nullptr, copy.Cursor()) << "the selection is not copied";

  copy.CopyFrom(Doc());
  EXPECT_EQ(nullptr, copy.Text());
  EXPECT_EQ(0, copy.Capacity());
  doc.Clear();
  EXPECT_TRUE(!doc.Text() && !doc.Cursor() && !doc.Length() && !doc.Capacity());
}

class ScriptPayloadTest : public ::testing::Test {
 protected:
  popbox_test::OwnFile own_;
};

TEST_F(ScriptPayloadTest, LoadsTheFirstMatchingFileRecord) {
  own_.Use(PayloadImage()
               .File("readme.txt", "not this")
               .Record(BLOB_FOLDER, "Setup.ini", popbox_test::ToBytes("a folder"))
               .File("SETUP.INI", HundredBytes())
               .File("Setup.ini", "the second match")
               .End()
               .bytes);
  Doc doc;
  ASSERT_TRUE(doc.LoadFromPayload("Setup.ini"));
  EXPECT_EQ(HundredBytes(), doc.Str());
  EXPECT_EQ(356, doc.Capacity());
  EXPECT_EQ(nullptr, doc.Cursor());

  own_.Use(PayloadImage().File("setup.ini", "").End().bytes);
  ASSERT_TRUE(doc.LoadFromPayload("Setup.ini"));
  EXPECT_EQ(0, doc.Length());
  EXPECT_EQ(nullptr, doc.Text()) << "an empty record gives a document without block";
}

TEST_F(ScriptPayloadTest, AMissingRecordIsADefect) {
  const Bytes packed = {0x61, 0xDF, 0x03, 0x62};  // unpacks to 4 bytes, not 5
  const Bytes images[] = {
      PayloadImage().End().File("Setup.ini", "behind the end").bytes,
      PayloadImage().File("Setup.in", "x").File("Setup.ini.bak", "x").End().bytes,
      PayloadImage().Record(BLOB_FILE, "Setup.ini", packed, 5).End().bytes,
      PayloadImage().bytes,
      {},  // no such file
  };
  for (const Bytes& image : images) {
    if (image.empty()) {
      own_.UseMissing();
    } else {
      own_.Use(image);
    }
    Doc doc("old text");
    ClearError();
    EXPECT_FALSE(doc.LoadFromPayload("Setup.ini"));
    EXPECT_STREQ("Missing BLOB: Setup.ini", ErrorMessage());
    EXPECT_STREQ("Bug", ErrorCaption());
    EXPECT_TRUE(!doc.Text() && !doc.Length()) << "the document is left empty";
  }
}

TEST(ScriptSave, WritesExactlyTheTextBytes) {
  popbox_test::TempFolder temp;
  std::string path = temp.Path("Setup.ini");
  Doc doc;
  ASSERT_TRUE(doc.SaveToFile(path.c_str()));
  bool exists = false;
  EXPECT_EQ(Bytes(), popbox_test::ReadBytes(path, &exists));
  EXPECT_TRUE(exists) << "an empty document still makes a file";

  ASSERT_TRUE(popbox_test::WriteBytes(path, Bytes(5000, 'o')));
  const std::string text = "[A]\r\nk=\xE9t\xE9\r\n";
  doc.Load(text);
  doc.TerminatedText();
  ASSERT_TRUE(doc.SaveToFile(path.c_str()));
  EXPECT_EQ(popbox_test::ToBytes(text), popbox_test::ReadBytes(path)) << "no zero, no old bytes";
  EXPECT_FALSE(doc.SaveToFile((temp.Folder() + "/missing/Setup.ini").c_str()));
}

#ifndef _WIN32
// A file size limit makes the write come up short: no half file may stay.
TEST(ScriptSave, AShortWriteLeavesNoFile) {
  popbox_test::TempFolder temp;
  std::string path = temp.Path("Setup.ini");
  Doc doc(HundredBytes());
  struct rlimit old, small;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
  small = old;
  small.rlim_cur = 10;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  bool saved = doc.SaveToFile(path.c_str());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  bool exists = true;
  popbox_test::ReadBytes(path, &exists);
  EXPECT_FALSE(exists);
}
#endif

}  // namespace
