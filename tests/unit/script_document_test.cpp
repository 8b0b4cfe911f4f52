// The script document's block: growth, copying, loading from a payload and
// saving to a file.
#include "script/script_document.h"

#include <gtest/gtest.h>

#include <string>

#include "app/error_slot.h"
#include "app/os_api.h"
#include "payload/payload_format.h"
#include "test_support.h"

using namespace popbox;
using popbox_test::Bytes;
using popbox_test::PayloadImage;
using popbox_test::ToBytes;

namespace {

std::string TextOf(const ScriptDocument& doc) {
  return doc.Length() ? std::string(doc.Text(), static_cast<size_t>(doc.Length())) : "";
}

void Load(ScriptDocument* doc, const std::string& text) {
  doc->LoadFromText(text.data(), static_cast<int32_t>(text.size()));
}

// A 100-byte script whose second section starts at offset 50.
std::string HundredBytes() {
  std::string text = "[A]\r\n" + std::string(43, ';') + "\r\n[B]\r\nk=v\r\n";
  return text + std::string(100 - text.size(), ';');
}

TEST(ScriptBlock, ReserveGrowsByWhatIsAskedPlusSlack) {
  ScriptDocument doc;
  doc.Reserve(0);
  doc.Reserve(-5);
  EXPECT_EQ(0, doc.Capacity());
  EXPECT_EQ(nullptr, doc.Text());

  doc.Reserve(10);
  EXPECT_EQ(266, doc.Capacity());
  EXPECT_EQ(0, doc.Length());
  const char* block = doc.Text();
  doc.Reserve(200);
  doc.Reserve(-5);
  EXPECT_EQ(block, doc.Text());
  EXPECT_EQ(266, doc.Capacity());
}

TEST(ScriptBlock, GrowthKeepsTextAndCursorOffset) {
  ScriptDocument doc;
  Load(&doc, HundredBytes());
  ASSERT_EQ(356, doc.Capacity());
  ASSERT_TRUE(doc.SelectSection("B"));
  const char* block = doc.Text();
  ptrdiff_t cursorAt = doc.Cursor() - doc.Text();
  EXPECT_EQ(55, cursorAt);

  doc.Reserve(256);
  EXPECT_EQ(block, doc.Text());
  doc.Reserve(257);
  EXPECT_EQ(613, doc.Capacity());
  EXPECT_EQ(HundredBytes(), TextOf(doc));
  EXPECT_EQ(cursorAt, doc.Cursor() - doc.Text());
  char value[8];
  EXPECT_TRUE(doc.GetString("k", value, sizeof value));
  EXPECT_STREQ("v", value);
}

// A value edit that fills the block to the last byte leaves no room for the
// terminating zero: the block must grow by 257 bytes.
TEST(ScriptBlock, TerminatingAFullBlockGrowsIt) {
  ScriptDocument doc;
  Load(&doc, HundredBytes());
  ASSERT_TRUE(doc.SelectSection("B"));
  ASSERT_TRUE(doc.SetValue("k", std::string(257, 'x').c_str()));
  EXPECT_EQ(356, doc.Length());
  EXPECT_EQ(356 + 257, doc.Capacity());
  EXPECT_EQ(0, doc.Text()[356]);
}

TEST(ScriptBlock, ClearAndCopy) {
  ScriptDocument doc;
  Load(&doc, "[A]\r\nk=1\r\n");
  ASSERT_TRUE(doc.SelectSection("A"));

  ScriptDocument copy(doc);
  EXPECT_EQ(TextOf(doc), TextOf(copy));
  EXPECT_EQ(doc.Length() + 256, copy.Capacity());
  EXPECT_NE(doc.Text(), copy.Text()) << "a copy owns its own block";
  EXPECT_EQ(nullptr, copy.Cursor()) << "the selection is not copied";
  copy = copy;
  EXPECT_EQ(TextOf(doc), TextOf(copy));

  ScriptDocument empty;
  copy.CopyFrom(empty);
  EXPECT_EQ(nullptr, copy.Text());
  EXPECT_EQ(0, copy.Capacity());

  doc.Clear();
  EXPECT_EQ(nullptr, doc.Text());
  EXPECT_EQ(nullptr, doc.Cursor());
  EXPECT_EQ(0, doc.Length());
  EXPECT_EQ(0, doc.Capacity());
}

class ScriptPayloadTest : public ::testing::Test {
 protected:
  void TearDown() override { OverrideOwnPath(nullptr); }
  void Use(const PayloadImage& image) {
    path_ = temp_.Path("setup-" + std::to_string(files_++) + ".exe");
    ASSERT_TRUE(popbox_test::WriteBytes(path_, image.bytes));
    OverrideOwnPath(path_.c_str());
  }
  popbox_test::TempFolder temp_;
  std::string path_;
  int files_ = 0;
};

TEST_F(ScriptPayloadTest, LoadsTheFirstMatchingFileRecord) {
  PayloadImage image;
  image.File("readme.txt", "not this")
      .Record(BLOB_FOLDER, "Setup.ini", ToBytes("a folder"))
      .File("SETUP.INI", HundredBytes())
      .File("Setup.ini", "the second match")
      .End();
  Use(image);
  ScriptDocument doc;
  ASSERT_TRUE(doc.LoadFromPayload("Setup.ini"));
  EXPECT_EQ(HundredBytes(), TextOf(doc));
  EXPECT_EQ(356, doc.Capacity());
  EXPECT_EQ(nullptr, doc.Cursor());
}

TEST_F(ScriptPayloadTest, AnEmptyRecordLoadsAsAnEmptyDocument) {
  Use(PayloadImage().File("setup.ini", "").End());
  ScriptDocument doc;
  Load(&doc, "old text");
  ASSERT_TRUE(doc.LoadFromPayload("Setup.ini"));
  EXPECT_EQ(0, doc.Length());
  EXPECT_EQ(nullptr, doc.Text());
}

TEST_F(ScriptPayloadTest, AMissingRecordIsADefect) {
  const Bytes packed = {0x61, 0xDF, 0x03, 0x62};  // unpacks to 4 bytes, not 5
  const PayloadImage images[] = {
      PayloadImage().End().File("Setup.ini", "behind the end"),
      PayloadImage().File("Setup.in", "x").File("Setup.ini.bak", "x").End(),
      PayloadImage().Record(BLOB_FILE, "Setup.ini", packed, 5).End(),
      PayloadImage(),
  };
  for (const PayloadImage& image : images) {
    Use(image);
    ScriptDocument doc;
    Load(&doc, "old text");
    ClearError();
    EXPECT_FALSE(doc.LoadFromPayload("Setup.ini"));
    EXPECT_STREQ("Missing BLOB: Setup.ini", ErrorMessage());
    EXPECT_STREQ("Bug", ErrorCaption());
    EXPECT_EQ(nullptr, doc.Text());
    EXPECT_EQ(0, doc.Length());
  }
  OverrideOwnPath((temp_.Folder() + "/no-such-file.exe").c_str());
  ScriptDocument doc;
  ClearError();
  EXPECT_FALSE(doc.LoadFromPayload("Setup.ini"));
  EXPECT_STREQ("Missing BLOB: Setup.ini", ErrorMessage());
}

TEST(ScriptSave, WritesExactlyTheTextBytes) {
  popbox_test::TempFolder temp;
  std::string path = temp.Path("Setup.ini");
  ScriptDocument doc;
  ASSERT_TRUE(doc.SaveToFile(path.c_str()));
  bool exists = false;
  EXPECT_EQ(Bytes(), popbox_test::ReadBytes(path, &exists));
  EXPECT_TRUE(exists) << "an empty document still makes a file";

  ASSERT_TRUE(popbox_test::WriteBytes(path, Bytes(5000, 'o')));
  const std::string text = "[A]\r\nk=\xE9t\xE9\r\n";
  Load(&doc, text);
  doc.TerminatedText();
  ASSERT_TRUE(doc.SaveToFile(path.c_str()));
  EXPECT_EQ(ToBytes(text), popbox_test::ReadBytes(path)) << "no zero byte, old bytes gone";

  std::string inMissingFolder = temp.Folder() + "/missing/Setup.ini";
  EXPECT_FALSE(doc.SaveToFile(inMissingFolder.c_str()));
}

}  // namespace
