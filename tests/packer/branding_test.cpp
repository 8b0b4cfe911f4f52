// Branding the stub: the author's icon and version information written into
// the stub's resource section and read back with the resource tree reader;
// which images are kept when the room is short; bad icon files, stubs and
// options refused before a byte is produced. Windows' own reading of a
// branded setup is the Wine scenario "branded".
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "packer/branding/icon_file.h"
#include "packer/branding/pe_image.h"
#include "packer/branding/resource_tree.h"
#include "packer/branding/stub_branding.h"
#include "packer/common/byte_io.h"
#include "packer/common/packer_error.h"
#include "tests/support/small_stub.h"

namespace {

using namespace popbox;
using namespace test;
using Bytes = std::vector<uint8_t>;

// A PNG as far as the icon reader looks: signature and IHDR (RGBA), then filler.
Bytes Png(uint32_t size, size_t bytes) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (int i = 0; i < 2; ++i) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(size >> s));
  }
  b.insert(b.end(), {8, 6, 0, 0, 0});
  b.resize(bytes, 0x5A);
  return b;
}

struct IcoImage {
  int size;
  Bytes bytes;
};
IcoImage Bmp(int size, int bits, uint32_t seed = 1) { return {size, Bitmap(size, bits, seed)}; }

Bytes Ico(const std::vector<IcoImage>& images) {
  Bytes b(6 + 16 * images.size());
  PutU16(b, 2, 1);
  PutU16(b, 4, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    size_t at = 6 + 16 * i;
    b[at] = b[at + 1] = static_cast<uint8_t>(images[i].size);  // 256 is written as 0
    PutU32(b, at + 8, static_cast<uint32_t>(images[i].bytes.size()));
    PutU32(b, at + 12, static_cast<uint32_t>(b.size()));
    b.insert(b.end(), images[i].bytes.begin(), images[i].bytes.end());
  }
  return b;
}

uint32_t U32(const Bytes& b, size_t at) { return ByteReader(b.data(), b.size(), "").U32(at); }

// The resource tree, in the last section as the headers give it.
ResourceTree TreeOf(const Bytes& stub) {
  PeImage pe(stub);
  PeDirectory d = pe.Directory(PE_DIRECTORY_RESOURCE);
  return ReadResourceTree(&stub[pe.Sections().back().rawOffset], d.size, d.rva);
}

// What group 101 lists: "WxH/bits/bytes/id" per image.
std::vector<std::string> GroupEntries(const ResourceTree& tree) {
  const Bytes& g = tree.at(ResourceName::Id(14)).at(ResourceName::Id(101)).at(1033).bytes;
  ByteReader in(g.data(), g.size(), "the group");
  std::vector<std::string> out;
  for (size_t i = 0, at = 6; i < in.U16(4); ++i, at += 14) {
    out.push_back(std::to_string(in.U8(at)) + "x" + std::to_string(in.U8(at + 1)) + "/" +
                  std::to_string(in.U16(at + 6)) + "/" + std::to_string(in.U32(at + 8)) + "/" +
                  std::to_string(in.U16(at + 12)));
  }
  return out;
}

BrandOptions IconOption(const Bytes& ico) {
  BrandOptions options;
  options.iconPath = "icon.ico";
  options.iconFile = ico;
  return options;
}

BrandedStub Brand(const Bytes& stub, const BrandOptions& options) {
  return BrandStub(stub, "stub.exe", options);
}

// The message of the PackerError that `f` throws, or "no error".
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const PackerError& e) {
    return e.what();
  }
  return "no error";
}

TEST(Branding, TheBuiltStubTakesIconAndVersionAndNothingElseMoves) {
  std::ifstream file(POPBOX_STUB, std::ios::binary);
  const Bytes stub{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (stub.empty()) GTEST_SKIP() << "no built stub at " << POPBOX_STUB;
  ASSERT_EQ(stub.size(), STUB_SIZE);
  // The build writes the checksum; the packer's computation must agree.
  PeImage before(stub);
  EXPECT_EQ(U32(stub, before.ChecksumOffset()), ComputePeChecksum(stub, before.ChecksumOffset()));

  std::vector<IcoImage> images = {
      Bmp(16, 32, 1), Bmp(16, 4, 2), Bmp(32, 8, 3), Bmp(48, 4, 4), {256, Png(256, 700)}};
  BrandOptions options = IconOption(Ico(images));
  options.version.productVersion = "2.5";
  BrandedStub branded = Brand(stub, options);
  const Bytes& out = branded.image;
  EXPECT_TRUE(branded.notes.empty());
  ASSERT_EQ(out.size(), STUB_SIZE);

  // Group 101 lists the images in the file's order under fresh ids, RT_ICON
  // holds exactly their bytes, and the dialogs and manifest stay.
  ResourceTree was = TreeOf(stub), now = TreeOf(out);
  EXPECT_EQ(GroupEntries(now),
            (std::vector<std::string>{"16x16/32/1128/1", "16x16/4/296/2", "32x32/8/2216/3",
                                      "48x48/4/1640/4", "0x0/32/700/5"}));
  ASSERT_EQ(now.at(ResourceName::Id(3)).size(), images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    EXPECT_TRUE(now.at(ResourceName::Id(3)).at(ResourceName::Id(uint16_t(i + 1))).at(1033).bytes ==
                images[i].bytes);
  }
  EXPECT_EQ(now.at(ResourceName::Id(14)).size(), 1u);
  for (uint16_t type : {5, 24}) {
    EXPECT_TRUE(was.at(ResourceName::Id(type)) == now.at(ResourceName::Id(type))) << type;
  }
  EXPECT_EQ(now.count(ResourceName::Id(16)), 1u);

  // Only the resources and four header fields differ; the virtual size and
  // the image size follow the new tree; zeros fill the rest of the room.
  PeImage after(out);
  const PeSection& rsrc = after.Sections().back();
  std::vector<size_t> fields = {after.ChecksumOffset(), after.SizeOfImageOffset(),
                                after.DirectoryOffset(PE_DIRECTORY_RESOURCE) + 4,
                                rsrc.headerOffset + PeImage::SECTION_VIRTUAL_SIZE};
  for (size_t i = 0; i < rsrc.rawOffset; ++i) {
    bool field = false;
    for (size_t f : fields) field |= i >= f && i < f + 4;
    if (!field) {
      ASSERT_EQ(stub[i], out[i]) << "byte " << i;
    }
  }
  uint32_t treeSize = after.Directory(PE_DIRECTORY_RESOURCE).size;
  EXPECT_EQ(rsrc.virtualSize, treeSize);
  EXPECT_EQ(after.SizeOfImage(), AlignUp(rsrc.virtualAddress + treeSize, 0x1000));
  EXPECT_EQ(U32(out, after.ChecksumOffset()), ComputePeChecksum(out, after.ChecksumOffset()));

  // Branding again gives the same bytes (no image of the first icon stays
  // behind); a smaller icon leaves zeros behind its tree; no option, the
  // stub as it is.
  EXPECT_TRUE(Brand(out, options).image == out);
  Bytes smaller = Brand(out, IconOption(Ico({Bmp(16, 4)}))).image;
  uint32_t smallerTree = PeImage(smaller).Directory(PE_DIRECTORY_RESOURCE).size;
  ASSERT_LT(smallerTree, treeSize);
  for (size_t i = rsrc.rawOffset + smallerTree; i < smaller.size(); ++i) ASSERT_EQ(smaller[i], 0);
  EXPECT_TRUE(Brand(stub, BrandOptions()).image == stub);
}

TEST(Branding, KeepsTheImportantSizesWhenTheRoomIsShort) {
  const struct {
    size_t room;
    std::vector<IcoImage> images;
    std::vector<std::string> kept;  // group entries
    size_t leftOut;
  } cases[] = {
      {8192, {Bmp(48, 32), Bmp(32, 32), Bmp(16, 32)}, {"32x32/32/4264/1", "16x16/32/1128/2"}, 1},
      // A shallower 48 fits where the deep one does not.
      {8192,
       {Bmp(48, 32), Bmp(48, 4), Bmp(32, 32), Bmp(16, 32)},
       {"48x48/4/1640/1", "32x32/32/4264/2", "16x16/32/1128/3"},
       1},
      // One image of each size before a second depth of any.
      {3584, {Bmp(16, 32), Bmp(16, 8), Bmp(32, 4)}, {"16x16/32/1128/1", "32x32/4/744/2"}, 1},
      {1536, {Bmp(16, 32), Bmp(16, 4)}, {"16x16/4/296/1"}, 1},
      // The same size and depth twice: the second adds nothing.
      {7680, {Bmp(32, 8, 1), Bmp(32, 8, 2)}, {"32x32/8/2216/1"}, 1},
      {7680, {Bmp(16, 32), {256, Png(256, 900)}}, {"16x16/32/1128/1", "0x0/32/900/2"}, 0},
  };
  for (const auto& c : cases) {
    BrandedStub branded = Brand(SmallStub(c.room), IconOption(Ico(c.images)));
    ResourceTree tree = TreeOf(branded.image);
    EXPECT_EQ(GroupEntries(tree), c.kept);
    EXPECT_EQ(branded.notes.size(), c.leftOut);
    EXPECT_EQ(tree.at(ResourceName::Id(3)).size(), c.kept.size());
    // Resources with names stay, code page and all.
    EXPECT_EQ(tree.at(ResourceName{0, u"NOTES"}).at(ResourceName{0, u"README"}).at(1033).codePage,
              1252u);
  }
  EXPECT_NE(ErrorOf([] {
              Brand(SmallStub(1536), IconOption(Ico({Bmp(32, 32), Bmp(16, 32)})));
            }).find("icon.ico: error: no image fits the stub's room for resources: 1536 bytes"),
            std::string::npos);
}

// Each case changes a good icon or a good stub in one place; the message
// names the file.
TEST(Branding, RefusesWhatItCannotBrandSafely) {
  const Bytes goodIcon = Ico({Bmp(16, 4), {48, Png(48, 100)}}), goodStub = SmallStub(8192);
  const size_t second = 6 + 16, bmp = 6 + 32, png = bmp + 296;
  const uint32_t rva = U32(goodStub, DIRS + 16);
  const size_t tree = STUB_SIZE - 8192, typeEntry = tree + 16;
  const struct {
    const char* name;
    bool stub;  // else the icon
    std::function<void(Bytes&)> change;
    const char* message;
  } cases[] = {
      {"empty", false, [](Bytes& b) { b.clear(); }, "is no icon file"},
      {"cursor", false, [](Bytes& b) { b[2] = 2; }, "is a cursor file"},
      {"too many images", false, [](Bytes& b) { PutU16(b, 4, 300); }, "holds 300 images"},
      {"image past the end", false, [&](Bytes& b) { PutU32(b, second + 8, 5000); }, "5000 bytes"},
      {"offset wraps", false, [&](Bytes& b) { PutU32(b, second + 12, 0xFFFFFFF0); },
       "past the end"},
      {"image in the directory", false, [&](Bytes& b) { PutU32(b, second + 12, 4); }, "overlaps"},
      {"bitmap of another size", false, [&](Bytes& b) { PutU32(b, bmp + 4, 0x7FFFFFFF); },
       "2147483647"},
      {"3 bits", false, [&](Bytes& b) { PutU16(b, bmp + 14, 3); }, "1 plane of 1, 4, 8, 24 or 32"},
      {"compressed", false, [&](Bytes& b) { PutU32(b, bmp + 16, 2); }, "compressed"},
      {"pixels cut short", false,
       [&](Bytes& b) { PutU32(b, bmp + 32, 16), PutU16(b, bmp + 14, 8); },
       "needs 424 bytes but has 296"},
      {"PNG of another size", false, [&](Bytes& b) { b[png + 19] = 64; }, "the PNG image is 64x48"},
      {"PNG colour type", false, [&](Bytes& b) { b[png + 25] = 5; }, "colour type 5"},
      {"no MZ", true, [](Bytes& b) { b[0] = 'X'; }, "is no Windows program"},
      {"PE header past the end", true, [](Bytes& b) { PutU32(b, 0x3C, 0xFFFFFFF0); },
       "no PE header"},
      {"section past the end", true, [](Bytes& b) { PutU32(b, RSRC + 16, 0x10000); }, "run past"},
      {"resources not last", true, [](Bytes& b) { PutU32(b, TEXT + 12, 0x900000); },
       ".text follows"},
      {"no room reserved", true, [](Bytes& b) { PutU32(b, RSRC + 16, 4096); }, "no room reserved"},
      {"relocations in the room", true,
       [&](Bytes& b) { PutU32(b, DIRS + 40, rva + 7000), PutU32(b, DIRS + 44, 8); },
       "data directory 5 inside its resource section"},
      {"subdirectory reached twice", true,
       [&](Bytes& b) { PutU32(b, typeEntry + 12, U32(b, typeEntry + 4)); }, "reached twice"},
      {"resources overlap", true,  // the first data entry made to cover the whole tree
       [&](Bytes& b) { PutU32(b, tree + 272, rva), PutU32(b, tree + 276, U32(b, DIRS + 20)); },
       "the resources' bytes overlap"},
  };
  BrandOptions options = IconOption(goodIcon);
  options.version.company = "Quill";
  ASSERT_TRUE(Brand(goodStub, options).notes.empty());
  for (const auto& c : cases) {
    Bytes icon = goodIcon, stub = goodStub;
    c.change(c.stub ? stub : icon);
    options.iconFile = icon;
    std::string message = ErrorOf([&] { Brand(stub, options); });
    EXPECT_EQ(message.rfind(c.stub ? "stub.exe: error: " : "icon.ico: error: ", 0), 0u)
        << c.name << ": " << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
  }
  // A second icon group would leave the file showing another icon than the dialog.
  ResourceTree twoGroups = SmallStubResources();
  twoGroups[ResourceName::Id(14)][ResourceName::Id(7)] =
      twoGroups[ResourceName::Id(14)][ResourceName::Id(101)];
  EXPECT_NE(ErrorOf([&] {
              Brand(SmallStub(8192, twoGroups), IconOption(Ico({Bmp(16, 4)})));
            }).find("has icon groups besides 101"),
            std::string::npos);
}

TEST(Branding, VersionValuesTheirDefaultsAndRefusals) {
  const struct {
    VersionOptions options;
    std::string title;
    std::string expected;  // "versions; key=value...", or a part of the error
  } cases[] = {
      {{"1.2.3.4", "", "", "", "", "", ""},
       "Hello",
       "1.2.3.4 1.2.3.4; FileDescription=Hello Setup FileVersion=1.2.3.4 "
       "OriginalFilename=HelloSetup.exe ProductName=Hello ProductVersion=1.2.3.4"},
      {{"", "3.1", "", "", "", "", ""},
       "Hello Setup",
       "3.1.0.0 3.1.0.0; FileDescription=Hello Setup FileVersion=3.1.0.0 "
       "OriginalFilename=HelloSetup.exe ProductName=Hello Setup ProductVersion=3.1.0.0"},
      {{"", "", "", "Quill", "", "", "q.exe"},
       "",
       "none; CompanyName=Quill OriginalFilename=q.exe"},
      {{"1.2.3.4.5", "", "", "", "", "", ""}, "", "--product-version: \"1.2.3.4.5\" is no version"},
      {{"", "1.", "", "", "", "", ""}, "", "--file-version: \"1.\" is no version"},
      {{"", "", "", "\xE4\xB8\xAD", "", "", ""}, "", "--company has the character"},
      {{"", "", "", "", "a\tb", "", ""}, "", "control character U+0009"},
      {{"", "", std::string(257, 'n'), "", "", "", ""}, "", "has 257 characters"},
      {{"1.0", "", "", "", "", "", ""}, "\xD0\x96", "(give --product-name instead)"},
  };
  for (const auto& c : cases) {
    std::string got;
    try {
      VersionValues v = ResolveVersionValues(c.options, {c.title, "HelloSetup.exe"});
      got = v.versionsGiven ? v.fileVersion.text + " " + v.productVersion.text : "none";
      for (const auto& [key, value] : v.strings) {
        got += (got.find(';') == std::string::npos ? "; " : " ") + key + "=" +
               std::string(value.begin(), value.end());
      }
      EXPECT_EQ(got, c.expected);
    } catch (const PackerError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  // Through BrandStub the message says it is popbox's option; version
  // information too large for the room is refused, naming the room.
  BrandOptions bad, large;
  bad.version.fileVersion = "x";
  EXPECT_EQ(ErrorOf([&] { Brand(SmallStub(8192), bad); }).rfind("popbox: error: ", 0), 0u);
  large.version.description = std::string(256, 'd');
  large.version.copyright = std::string(256, 'c');
  EXPECT_NE(ErrorOf([&] { Brand(SmallStub(1536), large); }).find("the stub has room for 1536"),
            std::string::npos);
}

}  // namespace
