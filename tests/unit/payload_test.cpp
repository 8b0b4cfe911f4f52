// The decoder and the record reader. Buffers are heap blocks of exactly the
// stated size, so the sanitizer build catches any access outside them.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>

#include "install/extract.h"
#include "payload/payload_stream.h"
#include "payload/unpack.h"
#include "support.h"

using namespace popbox;
using test::B;
using test::Bytes;

namespace {

uint32_t Unpack(const Bytes& packed, uint32_t capacity, Bytes* out = nullptr) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[packed.size() + 1]);
  if (!packed.empty()) memcpy(in.get(), packed.data(), packed.size());
  std::unique_ptr<uint8_t[]> to(new uint8_t[capacity + 1]);
  uint32_t n = UnpackBlob(in.get(), uint32_t(packed.size()), to.get(), capacity);
  if (out) out->assign(to.get(), to.get() + (n == UNPACK_FAILED ? 0 : n));
  return n;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Window() {  // 2047 bytes without an escape byte
  Bytes w;
  for (int i = 0; i < 2047; ++i) w.push_back(uint8_t(i % 211));
  return w;
}

TEST(Unpack, EveryTokenForm) {
  const Bytes w = Window();
  const struct {
    const char* what;
    Bytes packed, expected;
  } cases[] = {
      {"worked example",
       {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00},
       B("abcabcabcabcxxxxxxxx\xDF")},
      {"empty", {}, {}},
      {"no escape", B("plain\r\n\x80\xFF"), B("plain\r\n\x80\xFF")},
      {"escaped literal", {0xDF, 0x00}, {0xDF}},
      {"runs of 1 and 127", {0xDF, 0x01, 0x41, 0xDF, 0x7F, 0x42}, Cat(B("A"), Bytes(127, 0x42))},
      {"escape byte as run value", {0xDF, 0x03, 0xDF}, {0xDF, 0xDF, 0xDF}},
      {"distance 1, 19 bytes", {0x78, 0xDF, 0xF8, 0x01}, Bytes(20, 0x78)},
      {"distance == n, from the first byte", Cat(B("abcd"), {0xDF, 0x80, 0x04}), B("abcdabcd")},
      {"distance > n", Cat(B("abcdefgh"), {0xDF, 0x80, 0x06}), B("abcdefghcdef")},
      {"distance < n repeats", Cat(B("ab"), {0xDF, 0x88, 0x02}), B("abababa")},
      {"2047 back", Cat(w, {0xDF, 0xFF, 0xFF}), Cat(w, Bytes(w.begin(), w.begin() + 19))},
      {"high distance bits", Cat(w, {0xDF, 0x87, 0x00}),
       Cat(w, Bytes(w.end() - 1792, w.end() - 1788))},
  };
  for (const auto& c : cases) {
    Bytes out;
    EXPECT_EQ(c.expected.size(), Unpack(c.packed, uint32_t(c.expected.size()), &out)) << c.what;
    EXPECT_EQ(c.expected, out) << c.what;
    if (!c.expected.empty()) {
      EXPECT_EQ(UNPACK_FAILED, Unpack(c.packed, uint32_t(c.expected.size() - 1))) << c.what;
    }
  }
}

struct Record {
  bool ok;
  std::string name;
  std::string contents;
  uint32_t type;
};

Record Read(PayloadStream& stream) {
  std::unique_ptr<char[]> name(new char[NAME_BUFFER_SIZE]);
  uint8_t* data = nullptr;
  uint32_t size = 0, type = 99;
  if (!stream.ReadNextBlob(name.get(), &data, &size, &type)) {
    EXPECT_EQ(nullptr, data) << "a failed read hands out nothing";
    return {false, "", "", type};
  }
  EXPECT_EQ(0, data[size]) << "the contents end in a zero byte";
  Record r{true, name.get(), std::string(data, data + size), type};
  ReleaseBlob(data);
  return r;
}

TEST(PayloadStream, WalksEveryKindOfRecord) {
  test::Image image;
  image.Folder("bin")
      .File("bin\\Stored.txt", "stored \xDF\x01 bytes")
      .Record(BLOB_FILE, "packed.bin", {0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03}, 12)
      .Record(7, "odd type", B("x"))
      .Record(BLOB_FILE, "most.bin", {0xDF, 0x7F, 0x41, 0xDF, 0x7F, 0x42}, 254)
      .File(std::string(MAX_NAME_LENGTH, 'n'), "")
      .End()
      .Raw(B("ignored"));
  test::OwnFile own(image.bytes);
  ASSERT_TRUE(thePayload.OpenPayload());
  const Record expected[] = {
      {true, "bin", "", BLOB_FOLDER},
      {true, "bin\\Stored.txt", "stored \xDF\x01 bytes", BLOB_FILE},
      {true, "packed.bin", "abcabcabcabc", BLOB_FILE},
      {true, "odd type", "x", 7},
      {true, "most.bin", std::string(127, 'A') + std::string(127, 'B'), BLOB_FILE},
      {true, std::string(MAX_NAME_LENGTH, 'n'), "", BLOB_FILE},
      {true, "", "", BLOB_END}};
  for (const Record& e : expected) {
    Record got = Read(thePayload);
    EXPECT_TRUE(got.ok && got.name == e.name && got.contents == e.contents && got.type == e.type)
        << e.name;
  }
  ASSERT_TRUE(thePayload.OpenPayload()) << "opening again starts over";
  EXPECT_EQ("bin", Read(thePayload).name);
  char name[NAME_BUFFER_SIZE];
  uint32_t type = 0;
  ASSERT_TRUE(thePayload.SkipNextBlob(name, &type));
  EXPECT_EQ("bin\\Stored.txt", std::string(name));
  EXPECT_EQ("packed.bin", Read(thePayload).name) << "a skipped record's contents are passed";
  thePayload.ClosePayload();
  thePayload.ClosePayload();
  EXPECT_FALSE(Read(thePayload).ok) << "a closed stream reads nothing";
}

TEST(PayloadStream, RefusesDamagedRecords) {
  const struct {
    const char* what;
    test::Image image;
    ReadFailure why;
  } cases[] = {
      {"no payload", test::Image(), ReadFailure::HeaderCutShort},
      {"wrong magic", test::Image().Header(0, 0, 0, 0, 0xB10C), ReadFailure::NoMagic},
      {"name of 260", test::Image().File(std::string(260, 'n'), "x"), ReadFailure::NameTooLong},
      {"name cut", test::Image().Header(9, 0, 0, 2).Raw(B("Setup")), ReadFailure::NameCutShort},
      {"contents cut", test::Image().Header(1, 9, 9, 2).Raw(B("a12345")),
       ReadFailure::ContentsCutShort},
      {"one byte short", test::Image().Record(2, "a", {0xDF, 0x05, 0x41}, 6),
       ReadFailure::BadPacking},
      {"one byte over", test::Image().Record(2, "a", {0xDF, 0x05, 0x41}, 4),
       ReadFailure::BadPacking},
      {"size + 1 overflows", test::Image().Header(1, 0xFFFFFFFF, 2, 2).Raw(B("a12")),
       ReadFailure::SizeTooLarge},
      {"more than packing gives", test::Image().Header(1, 0xFFFFFFF0, 3, 2).Raw(B("a\xDF\x7F\x41")),
       ReadFailure::BadPacking},
  };
  for (const auto& c : cases) {
    test::OwnFile own(c.image.bytes);
    ASSERT_TRUE(thePayload.OpenPayload()) << c.what;
    EXPECT_FALSE(Read(thePayload).ok) << c.what;
    EXPECT_EQ(c.why, thePayload.LastFailure()) << c.what;
  }
}

// A buffer that cannot be had is a want of memory, the machine's condition,
// only when the record's stored bytes lie in the file; otherwise the file
// is damaged. A 32-bit process never gets 4 GB; the file has a hole.
TEST(PayloadStream, OutOfMemoryIsNotDamage) {
  if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit process may get 4 GB";
  const uint32_t huge = 0xFFFFFFF0;
  test::Image image;
  image.Header(1, huge, huge, BLOB_FILE).Raw(B("a"));
  for (bool inFile : {true, false}) {
    test::OwnFile own(image.bytes, inFile ? uint64_t{image.bytes.size()} + huge : 0);
    ClearError();
    EXPECT_FALSE(ExtractPayload("C:\\nowhere", "", ""));
    EXPECT_EQ(inFile ? "Cannot Install: Out of memory." : "Bug: File Corrupted. Can't Read BLOBs.",
              test::Report());
    EXPECT_EQ(inFile ? ReadFailure::OutOfMemory : ReadFailure::ContentsCutShort,
              thePayload.LastFailure());
  }
}

// The setup never reads itself through a cut path: GetModuleFileNameA
// returns the buffer's size for a path that does not fit.
TEST(PayloadStream, OwnPathWholeOrNotAtAll) {
  char whole[1024];
  uint32_t n = GetOwnPath(whole, sizeof whole);
  ASSERT_GT(n, 1u);
  for (uint32_t size : {n + 1, n, n - 1}) {
    std::vector<char> buffer(size);
    EXPECT_EQ(size > n ? n : 0, GetOwnPath(buffer.data(), size)) << size;
  }
}

}  // namespace
