// The payload reader over payload files built in a temp folder and read as
// the program's own file. Also holds the test program's main, which reads
// once before anything has opened the stream.
#include "payload/payload_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/os_api.h"
#include "payload/payload_format.h"
#include "test_support.h"

using namespace popbox;
using popbox_test::Bytes;
using popbox_test::PayloadImage;
using popbox_test::ToBytes;

namespace {

bool readBeforeAnyOpen = true;

struct Blob {
  bool ok = false;
  std::string name;
  Bytes data;
  uint32_t size = 0, type = 99;
};

// One ReadNextBlob with a name buffer of exactly NAME_BUFFER_SIZE heap
// bytes; checks the zero behind the contents and releases them.
Blob Read() {
  Blob blob;
  std::unique_ptr<char[]> name(new char[NAME_BUFFER_SIZE]);
  uint8_t* data = nullptr;
  blob.ok = ReadNextBlob(name.get(), &data, &blob.size, &blob.type);
  if (!blob.ok) {
    EXPECT_EQ(nullptr, data) << "a failed read hands out no buffer";
    return blob;
  }
  blob.name = name.get();
  blob.data.assign(data, data + blob.size);
  EXPECT_EQ(0, data[blob.size]) << "contents are followed by a zero byte";
  ReleaseBlob(data);
  return blob;
}

class PayloadStreamTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClosePayload();
    OverrideOwnPath(nullptr);
  }
  // Makes `image` the program's own file and opens it.
  bool Open(const PayloadImage& image) { return Open(image.bytes); }
  bool Open(const Bytes& bytes) {
    path_ = temp_.Path("setup-" + std::to_string(files_++) + ".exe");
    EXPECT_TRUE(popbox_test::WriteBytes(path_, bytes));
    OverrideOwnPath(path_.c_str());
    return OpenPayload();
  }
  popbox_test::TempFolder temp_;
  std::string path_;
  int files_ = 0;
};

TEST(PayloadHeader, LayoutMatchesTheDocumentedExample) {
  const uint8_t example[13] = {0x0B, 0xB1, 0x09, 0x00, 0xBE, 0x04, 0x00,
                               0x00, 0x2C, 0x03, 0x00, 0x00, 0x02};
  BlobHeader h = BlobHeader::Parse(example);
  EXPECT_EQ(BLOB_MAGIC, h.magic);
  EXPECT_EQ(9, h.nameLength);
  EXPECT_EQ(1214u, h.unpackedSize);
  EXPECT_EQ(812u, h.packedSize);
  EXPECT_EQ(BLOB_FILE, h.type);
  uint8_t back[13];
  h.Serialize(back);
  EXPECT_EQ(0, memcmp(example, back, 13));
}

TEST_F(PayloadStreamTest, OnlyTheEndRecord) {
  ASSERT_TRUE(Open(PayloadImage().End()));
  Blob end = Read();
  ASSERT_TRUE(end.ok);
  EXPECT_EQ("", end.name);
  EXPECT_EQ(BLOB_END, end.type);
  EXPECT_EQ(0u, end.size);
}

TEST_F(PayloadStreamTest, WalksStoredCompressedAndOtherRecords) {
  const Bytes packed = {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00};
  PayloadImage image;
  image.Record(BLOB_FOLDER, "bin", {})
      .File("bin\\Stored.txt", "stored \xDF\x01\x41 bytes\r\n")
      .Record(BLOB_FILE, "packed.bin", packed, 21)
      .Record(7, "odd type", ToBytes("x"))
      .Record(BLOB_FILE, "", ToBytes("no name"))
      .End()
      .Raw(ToBytes("bytes behind the end record are never read"));
  ASSERT_TRUE(Open(image));
  struct {
    const char* name;
    uint32_t type;
    std::string contents;
  } expected[] = {{"bin", BLOB_FOLDER, ""},
                  {"bin\\Stored.txt", BLOB_FILE, "stored \xDF\x01\x41 bytes\r\n"},
                  {"packed.bin", BLOB_FILE, "abcabcabcabcxxxxxxxx\xDF"},
                  {"odd type", 7, "x"},
                  {"", BLOB_FILE, "no name"},
                  {"", BLOB_END, ""}};
  for (const auto& e : expected) {
    Blob blob = Read();
    ASSERT_TRUE(blob.ok) << e.name;
    EXPECT_EQ(e.name, blob.name);
    EXPECT_EQ(e.type, blob.type) << e.name;
    EXPECT_EQ(ToBytes(e.contents), blob.data) << e.name;
  }
}

TEST_F(PayloadStreamTest, CompressedContentsMustUnpackToExactlyTheirSize) {
  const Bytes packed = {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00};
  ASSERT_TRUE(Open(PayloadImage().Record(BLOB_FILE, "a", packed, 20).End()));
  EXPECT_FALSE(Read().ok) << "one byte more than stated";
  ASSERT_TRUE(Open(PayloadImage().Record(BLOB_FILE, "a", packed, 22).End()));
  EXPECT_FALSE(Read().ok) << "one byte fewer than stated";
}

TEST_F(PayloadStreamTest, ShortOrDamagedFilesFailToRead) {
  const Bytes zeros(PAYLOAD_OFFSET, 0);
  EXPECT_TRUE(Open(zeros)) << "a file without payload still opens";
  EXPECT_FALSE(Read().ok);
  EXPECT_TRUE(Open(Bytes(100, 0)));
  EXPECT_FALSE(Read().ok);

  PayloadImage whole;
  whole.File("Setup.ini", "contents").End();
  const size_t record = PAYLOAD_OFFSET + 13 + 9 + 8;
  for (size_t cut : {record - 18, record - 9, record - 1}) {  // header, name, contents
    ASSERT_TRUE(Open(Bytes(whole.bytes.begin(), whole.bytes.begin() + cut)));
    EXPECT_FALSE(Read().ok) << "cut at " << cut;
  }

  for (uint16_t magic : {0xB10A, 0x0BB1, 0x0000}) {
    ASSERT_TRUE(Open(PayloadImage().Header(0, 0, 0, BLOB_END, magic)));
    EXPECT_FALSE(Read().ok) << "magic " << magic;
  }
}

TEST_F(PayloadStreamTest, NamesUpTo259BytesFit) {
  ASSERT_TRUE(Open(PayloadImage().File(std::string(259, 'n'), "ok").End()));
  Blob blob = Read();
  ASSERT_TRUE(blob.ok);
  EXPECT_EQ(std::string(259, 'n'), blob.name);
  // One more byte would not leave room for the zero: refused, and Read()'s
  // 260-byte heap buffer shows any write past it.
  ASSERT_TRUE(Open(PayloadImage().File(std::string(260, 'n'), "no").End()));
  EXPECT_FALSE(Read().ok);
  ASSERT_TRUE(Open(PayloadImage().File(std::string(65535, 'n'), "no").End()));
  EXPECT_FALSE(Read().ok);
}

TEST_F(PayloadStreamTest, SizesWhosePlusOneOverflowsFail) {
  ASSERT_TRUE(Open(PayloadImage().Header(1, 3, 0xFFFFFFFFu, BLOB_FILE).Raw(ToBytes("aabc"))));
  EXPECT_FALSE(Read().ok);
  ASSERT_TRUE(Open(PayloadImage().Header(1, 0xFFFFFFFFu, 3, BLOB_FILE).Raw(ToBytes("aabc"))));
  EXPECT_FALSE(Read().ok);
}

TEST_F(PayloadStreamTest, ReadingNeedsAnOpenStream) {
  EXPECT_FALSE(readBeforeAnyOpen);
  ASSERT_TRUE(Open(PayloadImage().File("a", "1").End()));
  ClosePayload();
  EXPECT_FALSE(Read().ok);
  ClosePayload();  // harmless when closed
  OverrideOwnPath((temp_.Folder() + "/missing.exe").c_str());
  EXPECT_FALSE(OpenPayload());
  EXPECT_FALSE(Read().ok);
}

TEST_F(PayloadStreamTest, ReopeningStartsAgainAtTheFirstRecord) {
  ASSERT_TRUE(Open(PayloadImage().File("first", "1").File("second", "2").End()));
  EXPECT_EQ("first", Read().name);
  EXPECT_EQ("second", Read().name);
  ASSERT_TRUE(OpenPayload());
  EXPECT_EQ("first", Read().name);
}

}  // namespace

int main(int argc, char** argv) {
  char name[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t size = 0, type = 0;
  readBeforeAnyOpen = ReadNextBlob(name, &data, &size, &type);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
