// Icon files (.ico): reading their images, choosing the ones that fit the
// stub's room for resources, and the icon group resource that lists them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

namespace popbox {

// The largest .ico the packer reads, and the most images it takes from one.
constexpr uint64_t MAX_ICON_FILE_SIZE = 16 << 20;
constexpr uint16_t MAX_ICON_IMAGES = 256;

struct IconImage {
  uint16_t width = 0;   // 1..256
  uint16_t height = 0;  // 1..256
  uint16_t bitCount = 0;
  bool png = false;            // PNG-compressed; else a device-independent bitmap
  std::vector<uint8_t> bytes;  // the image as the file holds it
};

// Reads every image of an icon file. Checks each image's header (a 40-byte
// bitmap header with colour and mask rows, or a PNG's IHDR) against the
// file's directory entry and the bytes present. Throws BrandError.
std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file);

// "48x48 8-bit" or "256x256 32-bit PNG".
std::string DescribeIconImage(const IconImage& image);

// Chooses the images to keep when not all may fit: first one image of
// each size, 16x16 first, then 32x32, then 48x48, then the other sizes from
// the smallest, each time the deepest colours that fit; then the other
// depths in the same order. `fits` tells whether a set of indices fits.
// Returns the chosen indices in file order; `leftOut` gets one line for
// every image left out, saying why (`whyNot` for those that did not fit).
std::vector<size_t> ChooseIconImages(const std::vector<IconImage>& images,
                                     const std::function<bool(const std::vector<size_t>&)>& fits,
                                     const std::string& whyNot, std::vector<std::string>* leftOut);

// The RT_GROUP_ICON resource: one 14-byte entry per image, with the icon
// resource id it is stored under.
std::vector<uint8_t> MakeIconGroup(const std::vector<const IconImage*>& images,
                                   const std::vector<uint16_t>& ids);

// The icon ids listed by an RT_GROUP_ICON resource. Throws BrandError.
std::vector<uint16_t> IconGroupIds(const std::vector<uint8_t>& group);

}  // namespace popbox
