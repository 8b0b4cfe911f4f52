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

#include "packer/branding/pe_image.h"
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

// The headers of a stub that pack can write in front of a setup, branded
// or not: a Windows program (PeImage's checks) without a certificate
// table, since a signed stub's signature would not match the setup. Throws
// BrandError (without SUBJECT) saying what is wrong.
PeImage CheckStub(const std::vector<uint8_t>& stub);

// The stub with its resources rewritten. Without any option the stub's
// bytes come back unchanged. Everything is checked before a result is
// made: the options, the icon file, the stub (CheckStub), its room and its
// resource tree. Throws BrandError with a one-line message
// "SUBJECT: error: what", SUBJECT being the icon file, the stub (named by
// `stubPath`) or the option at fault.
BrandedStub BrandStub(const std::vector<uint8_t>& stub, const std::string& stubPath,
                      const BrandOptions& options);

}  // namespace popbox
