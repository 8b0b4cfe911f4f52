// Branding the stub: the author's icon in place of the images of icon
// group STUB_ICON_GROUP, and version information, written into the stub's
// resource section within the room the build reserved for it. The stub is
// the PAYLOAD_OFFSET bytes in front of the payload (payload/stub_image.h);
// its resources are its last section, running to the last of those bytes,
// so rewriting them moves nothing else.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "packer/branding/version_info.h"
#include "payload/stub_image.h"

namespace popbox {

struct BrandOptions {
  std::string iconPath;             // names the icon in messages; empty: keep the stub's icon
  std::vector<uint8_t> iconFile;    // the .ico's bytes (at most MAX_ICON_FILE_SIZE)
  VersionOptions version;           // nothing given: no version information
  VersionDefaults versionDefaults;  // where missing version values come from

  bool Any() const { return !iconPath.empty() || version.Any(); }
};

struct BrandedStub {
  std::vector<uint8_t> image;      // as long as the stub given
  std::vector<std::string> notes;  // icon images left out, one line each
};

// The stub with its resources rewritten. Without any option the stub's
// bytes come back unchanged. Everything is checked before a result is
// made: the options, the icon file, the stub's headers, its room and its
// resource tree. Throws BrandError with a one-line message
// "SUBJECT: error: what", SUBJECT being the icon file, the stub (named by
// `stubPath`) or the option at fault.
BrandedStub BrandStub(const std::vector<uint8_t>& stub, const std::string& stubPath,
                      const BrandOptions& options);

// The stub's room: the bytes of its last section, which holds the
// resources and runs to the end of the stub, and how many of them the
// resources use now. Throws BrandError (without SUBJECT) when the stub has
// no such room.
struct ResourceRoom {
  size_t offset = 0;  // file offset of the resource section
  size_t size = 0;    // bytes from there to the end of the stub
  size_t used = 0;    // size of the resource tree in it
};
ResourceRoom FindResourceRoom(const std::vector<uint8_t>& stub);

}  // namespace popbox
