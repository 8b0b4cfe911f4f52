// The payload reader over payload files built in a temp folder and read as
// the program's own file. Also holds the test program's main, which reads
// once before anything has opened the stream.
#include "payload/payload_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "payload/payload_format.h"
#include "test_support.h"

using namespace popbox;
using popbox_test::Bytes;
using popbox_test::PayloadImage;
using popbox_test::ToBytes;

namespace {

bool readBeforeAnyOpen = true;
const Bytes kPacked = {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00};

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
  blob.ok = thePayload.ReadNextBlob(name.get(), &data, &blob.size, &blob.type);
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
  void TearDown() override { thePayload.ClosePayload(); }
  bool Open(const Bytes& bytes) {
    own_.Use(bytes);
    return thePayload.OpenPayload();
  }
  popbox_test::OwnFile own_;
};

TEST_F(PayloadStreamTest, WalksEveryKindOfRecord) {
  PayloadImage image;
  image.Record(BLOB_FOLDER, "bin", {})
      .File("bin\\Stored.txt", "stored \xDF\x01\x41 bytes\r\n")
      .Record(BLOB_FILE, "packed.bin", kPacked, 21)
      .Record(7, "odd type", ToBytes("x"))
      .File("", "no name")
      .End()
      .Raw(ToBytes("bytes behind the end record are never read"));
  ASSERT_TRUE(Open(image.bytes));
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
  ASSERT_TRUE(Open(PayloadImage().End().bytes)) << "a payload of the end record alone";
  Blob end = Read();
  EXPECT_TRUE(end.ok && end.name.empty() && end.type == BLOB_END && end.size == 0);
}

// Compressed contents must unpack to exactly their size; names must fit
// the 260-byte buffer with their zero (Read()'s buffer is a heap block of
// exactly that size); sizes whose plus-one overflows are refused.
TEST_F(PayloadStreamTest, RefusesRecordsOutsideTheFormat) {
  PayloadImage images[] = {
      PayloadImage().Record(BLOB_FILE, "a", kPacked, 20),
      PayloadImage().Record(BLOB_FILE, "a", kPacked, 22),
      PayloadImage().File(std::string(260, 'n'), "name too long"),
      PayloadImage().File(std::string(65535, 'n'), "name too long"),
      PayloadImage().Header(1, 3, 0xFFFFFFFFu, BLOB_FILE).Raw(ToBytes("aabc")),
      PayloadImage().Header(1, 0xFFFFFFFFu, 3, BLOB_FILE).Raw(ToBytes("aabc")),
  };
  for (PayloadImage& image : images) {
    ASSERT_TRUE(Open(image.End().bytes));
    EXPECT_FALSE(Read().ok) << &image - images;
  }
  ASSERT_TRUE(Open(PayloadImage().File(std::string(259, 'n'), "ok").bytes));
  EXPECT_EQ(std::string(259, 'n'), Read().name);
}

TEST_F(PayloadStreamTest, ShortOrDamagedFilesFailToRead) {
  EXPECT_TRUE(Open(Bytes(PAYLOAD_OFFSET, 0))) << "a file without payload still opens";
  EXPECT_FALSE(Read().ok);
  EXPECT_TRUE(Open(Bytes(100, 0)));
  EXPECT_FALSE(Read().ok);

  const Bytes whole = PayloadImage().File("Setup.ini", "contents").End().bytes;
  const size_t record = PAYLOAD_OFFSET + 13 + 9 + 8;
  for (size_t cut : {record - 18, record - 9, record - 1}) {  // header, name, contents
    ASSERT_TRUE(Open(Bytes(whole.begin(), whole.begin() + cut)));
    EXPECT_FALSE(Read().ok) << "cut at " << cut;
  }
  for (uint32_t magic : {0xB10A, 0x0BB1, 0x0000}) {
    ASSERT_TRUE(Open(PayloadImage().Header(0, 0, 0, BLOB_END, magic).bytes));
    EXPECT_FALSE(Read().ok) << "magic " << magic;
  }
}

TEST_F(PayloadStreamTest, ReadingNeedsAnOpenStream) {
  EXPECT_FALSE(readBeforeAnyOpen);
  ASSERT_TRUE(Open(PayloadImage().File("a", "1").End().bytes));
  thePayload.ClosePayload();
  EXPECT_FALSE(Read().ok);
  thePayload.ClosePayload();  // harmless when closed
  own_.UseMissing();
  EXPECT_FALSE(thePayload.OpenPayload());
  EXPECT_FALSE(Read().ok);
}

TEST_F(PayloadStreamTest, ReopeningStartsAgainAtTheFirstRecord) {
  ASSERT_TRUE(Open(PayloadImage().File("first", "1").File("second", "2").End().bytes));
  EXPECT_EQ("first", Read().name);
  EXPECT_EQ("second", Read().name);
  ASSERT_TRUE(thePayload.OpenPayload());
  EXPECT_EQ("first", Read().name);
}

}  // namespace

int main(int argc, char** argv) {
  char name[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t size = 0, type = 0;
  readBeforeAnyOpen = thePayload.ReadNextBlob(name, &data, &size, &type);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
