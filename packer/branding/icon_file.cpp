#include "packer/branding/icon_file.h"

#include <string.h>

#include <algorithm>
#include <tuple>

#include "packer/common/byte_io.h"

namespace popbox {

namespace {

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string Size(uint32_t width, uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The bits per pixel a PNG decodes to, from its colour type and depth.
uint16_t PngBitCount(uint8_t colourType, uint8_t depth) {
  static const struct {
    uint8_t type;
    uint8_t channels;
    uint8_t depths;  // bit n: depth 2^n allowed
  } kinds[] = {{0, 1, 0x1F}, {2, 3, 0x18}, {3, 1, 0x0F}, {4, 2, 0x18}, {6, 4, 0x18}};
  for (const auto& kind : kinds) {
    if (kind.type != colourType) continue;
    for (int n = 0; n < 5; ++n) {
      if ((kind.depths >> n & 1) && depth == (1 << n)) {
        return static_cast<uint16_t>(std::min(32, kind.channels * depth));
      }
    }
  }
  throw BrandError("a PNG image has colour type " + std::to_string(colourType) + " with " +
                   std::to_string(depth) + "-bit samples, which PNG does not define");
}

void ReadPng(const ByteReader& image, IconImage* out) {
  // The signature, then the IHDR chunk: length 13, "IHDR", width and height
  // (big-endian), bit depth, colour type, compression, filter, interlace.
  if (!image.Has(0, 8 + 8 + 13) || image.U32BigEndian(8) != 13 ||
      memcmp(image.Data() + 12, "IHDR", 4) != 0) {
    throw BrandError("a PNG image has no IHDR header");
  }
  uint32_t width = image.U32BigEndian(16), height = image.U32BigEndian(20);
  if (width != out->width || height != out->height) {
    throw BrandError("the directory says " + Size(out->width, out->height) +
                     " but the PNG image is " + Size(width, height));
  }
  out->bitCount = PngBitCount(image.U8(25), image.U8(24));
  out->png = true;
}

void ReadBitmap(const ByteReader& image, IconImage* out) {
  if (!image.Has(0, 40) || image.U32(0) != 40) {
    throw BrandError("an image has neither a PNG signature nor a 40-byte bitmap header");
  }
  int32_t width = static_cast<int32_t>(image.U32(4));
  int32_t height = static_cast<int32_t>(image.U32(8));
  uint16_t planes = image.U16(12), bits = image.U16(14);
  uint32_t compression = image.U32(16), colours = image.U32(32);
  // The height counts the colour rows and the mask rows.
  if (width != out->width || height != 2 * out->height) {
    throw BrandError("the directory says " + Size(out->width, out->height) +
                     " but the bitmap header says " + std::to_string(width) + " by " +
                     std::to_string(height) + " (the height counting colour and mask)");
  }
  if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
    throw BrandError("a bitmap has " + std::to_string(planes) + " planes of " +
                     std::to_string(bits) + " bits; icons have 1 plane of 1, 4, 8, 24 or 32");
  }
  if (compression != 0) throw BrandError("a bitmap image is compressed");
  uint64_t palette = bits <= 8 ? (colours != 0 ? colours : uint64_t{1} << bits) : colours;
  if (bits <= 8 && palette > (uint64_t{1} << bits)) {
    throw BrandError("a " + std::to_string(bits) + "-bit bitmap lists " + std::to_string(colours) +
                     " colours");
  }
  uint64_t colourRow = (uint64_t{out->width} * bits + 31) / 32 * 4;
  uint64_t maskRow = (uint64_t{out->width} + 31) / 32 * 4;
  uint64_t needed = 40 + 4 * palette + (colourRow + maskRow) * out->height;
  if (needed > image.Size()) {
    throw BrandError("a " + Size(out->width, out->height) + " " + std::to_string(bits) +
                     "-bit bitmap needs " + std::to_string(needed) + " bytes but has " +
                     std::to_string(image.Size()));
  }
  out->bitCount = bits;
}

// The order of importance of a size: 16, 32 and 48 square first, then the
// other sizes from the smallest.
std::tuple<int, uint16_t, uint16_t> SizeRank(const IconImage& image) {
  int rank = 3;
  if (image.width == image.height) {
    if (image.width == 16) rank = 0;
    if (image.width == 32) rank = 1;
    if (image.width == 48) rank = 2;
  }
  return {rank, image.width, image.height};
}

}  // namespace

std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file) {
  ByteReader in(file.data(), file.size(), "the file");
  if (file.size() > MAX_ICON_FILE_SIZE) {
    throw BrandError("is " + std::to_string(file.size()) + " bytes; an icon file may have " +
                     std::to_string(MAX_ICON_FILE_SIZE));
  }
  if (!in.Has(0, 6) || in.U16(0) != 0 || (in.U16(2) != 1 && in.U16(2) != 2)) {
    throw BrandError("is no icon file (it does not start with an icon directory)");
  }
  if (in.U16(2) == 2) throw BrandError("is a cursor file, not an icon file");
  uint16_t count = in.U16(4);
  if (count == 0) throw BrandError("holds no image");
  if (count > MAX_ICON_IMAGES) {
    throw BrandError("holds " + std::to_string(count) + " images; at most " +
                     std::to_string(MAX_ICON_IMAGES) + " are read");
  }
  in.Require(6, 16 * uint64_t{count}, "the icon directory");

  std::vector<IconImage> images;
  for (uint16_t i = 0; i < count; ++i) {
    uint64_t entry = 6 + 16 * uint64_t{i};
    IconImage image;
    image.width = in.U8(entry) == 0 ? 256 : in.U8(entry);
    image.height = in.U8(entry + 1) == 0 ? 256 : in.U8(entry + 1);
    uint32_t size = in.U32(entry + 8), offset = in.U32(entry + 12);
    std::string which =
        "image " + std::to_string(i + 1) + " (" + Size(image.width, image.height) + "): ";
    try {
      if (size == 0) throw BrandError("it is empty");
      if (offset < 6 + 16 * uint64_t{count}) throw BrandError("it overlaps the icon directory");
      if (!in.Has(offset, size)) {
        throw BrandError("its " + std::to_string(size) + " bytes at offset " +
                         std::to_string(offset) + " run past the end of the file (" +
                         std::to_string(file.size()) + " bytes)");
      }
      image.bytes = in.Copy(offset, size, "an image");
      ByteReader bytes(image.bytes.data(), image.bytes.size(), "the image");
      if (size >= 8 && memcmp(image.bytes.data(), PNG_SIGNATURE, 8) == 0) {
        ReadPng(bytes, &image);
      } else {
        ReadBitmap(bytes, &image);
      }
    } catch (const BrandError& e) {
      throw BrandError(which + e.what());
    }
    images.push_back(std::move(image));
  }
  return images;
}

std::string DescribeIconImage(const IconImage& image) {
  return Size(image.width, image.height) + " " + std::to_string(image.bitCount) + "-bit" +
         (image.png ? " PNG" : "");
}

std::vector<size_t> ChooseIconImages(const std::vector<IconImage>& images,
                                     const std::function<bool(const std::vector<size_t>&)>& fits,
                                     const std::string& whyNot, std::vector<std::string>* leftOut) {
  // Most important first; an image with the same size and depth as one
  // before it adds nothing.
  std::vector<size_t> order(images.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (SizeRank(images[a]) != SizeRank(images[b]))
      return SizeRank(images[a]) < SizeRank(images[b]);
    return images[a].bitCount > images[b].bitCount;
  });
  std::vector<std::string> reasons(images.size());
  for (size_t i = 1; i < order.size(); ++i) {
    const IconImage& a = images[order[i - 1]];
    const IconImage& b = images[order[i]];
    if (a.width == b.width && a.height == b.height && a.bitCount == b.bitCount) {
      reasons[order[i]] = "has the same size and depth as an image before it";
    }
  }

  std::vector<size_t> chosen;
  std::vector<bool> taken(images.size(), false);
  auto tryAdd = [&](size_t index) {
    chosen.push_back(index);
    if (fits(chosen)) {
      taken[index] = true;
      return true;
    }
    chosen.pop_back();
    return false;
  };
  // One image of every size, then the other depths.
  for (size_t i = 0; i < order.size(); ++i) {
    size_t index = order[i];
    bool sizeDone = false;
    for (size_t c : chosen) {
      sizeDone |=
          images[c].width == images[index].width && images[c].height == images[index].height;
    }
    if (!sizeDone && reasons[index].empty()) tryAdd(index);
  }
  for (size_t index : order) {
    if (!taken[index] && reasons[index].empty()) tryAdd(index);
  }

  std::sort(chosen.begin(), chosen.end());
  for (size_t i = 0; i < images.size(); ++i) {
    if (taken[i]) continue;
    if (leftOut) {
      leftOut->push_back(DescribeIconImage(images[i]) + " (" +
                         std::to_string(images[i].bytes.size()) +
                         " bytes) left out: " + (reasons[i].empty() ? whyNot : reasons[i]));
    }
  }
  return chosen;
}

std::vector<uint8_t> MakeIconGroup(const std::vector<const IconImage*>& images,
                                   const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> group;
  AppendU16(group, 0);  // reserved
  AppendU16(group, 1);  // icons
  AppendU16(group, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = *images[i];
    group.push_back(static_cast<uint8_t>(image.width));  // 256 is written as 0
    group.push_back(static_cast<uint8_t>(image.height));
    group.push_back(image.bitCount < 8 ? static_cast<uint8_t>(1 << image.bitCount) : 0);
    group.push_back(0);
    AppendU16(group, 1);  // planes
    AppendU16(group, image.bitCount);
    AppendU32(group, static_cast<uint32_t>(image.bytes.size()));
    AppendU16(group, ids.at(i));
  }
  return group;
}

std::vector<uint16_t> IconGroupIds(const std::vector<uint8_t>& group) {
  ByteReader in(group.data(), group.size(), "the icon group");
  if (!in.Has(0, 6) || in.U16(0) != 0 || in.U16(2) != 1) {
    throw BrandError("the icon group has no icon directory");
  }
  uint16_t count = in.U16(4);
  in.Require(6, 14 * uint64_t{count}, "the icon group's entries");
  std::vector<uint16_t> ids;
  for (uint16_t i = 0; i < count; ++i) ids.push_back(in.U16(6 + 14 * uint64_t{i} + 12));
  return ids;
}

}  // namespace popbox
