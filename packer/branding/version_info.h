// The version information of a setup (a VS_VERSIONINFO resource, US English,
// code page 1252): the numbers and texts that Windows shows in the file's
// properties, from pack's options with defaults for those not given.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace popbox {

// The options as given, UTF-8; an empty one was not given.
struct VersionOptions {
  std::string productVersion;  // --product-version A.B.C.D
  std::string fileVersion;     // --file-version A.B.C.D
  std::string productName;     // --product-name
  std::string company;         // --company
  std::string description;     // --description
  std::string copyright;       // --copyright
  std::string originalName;    // --original-filename

  // False: the setup gets no version information at all.
  bool Any() const;
};

// Where defaults come from, UTF-8; empty when unknown.
struct VersionDefaults {
  std::string title;     // Setup.ini [Install] Title: the product name
  std::string fileName;  // the setup's file name (OUT.exe without folders)
};

// Languages and code page of the strings.
constexpr uint16_t VERSION_LANGUAGE = 1033;
constexpr uint16_t VERSION_CODE_PAGE = 1252;
// The longest text taken, in characters.
constexpr size_t MAX_VERSION_TEXT = 256;

// "1.2.3.4" as four numbers; one to four numbers from 0 to 65535,
// separated by dots, the missing ones 0. Throws BrandError.
struct VersionNumber {
  uint16_t parts[4] = {0, 0, 0, 0};
  std::string text;  // as written back: "1.2.3.4"
};
VersionNumber ParseVersionNumber(const std::string& text);

// The values the resource will hold, with the defaults filled in:
//   file and product version: each other's when only one is given;
//   product name: the Title; description: the product name, with " Setup"
//   added unless it ends so; original file name: the setup's file name;
//   company and copyright: none. A text left empty is not written.
// Checks every value (the numbers; texts valid UTF-8, within code page
// 1252, without control characters, at most MAX_VERSION_TEXT characters)
// and throws BrandError naming the option, or the Title or file name a
// default came from.
struct VersionValues {
  VersionNumber fileVersion;
  VersionNumber productVersion;
  bool versionsGiven = false;  // false: both are 0.0.0.0 and their texts are not written
  // Key and UTF-16 value, in the order they are written.
  std::vector<std::pair<std::string, std::u16string>> strings;
};
VersionValues ResolveVersionValues(const VersionOptions& options, const VersionDefaults& defaults);

// The VS_VERSIONINFO resource's bytes.
std::vector<uint8_t> BuildVersionResource(const VersionValues& values);

}  // namespace popbox
