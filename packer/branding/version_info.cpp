#include "packer/branding/version_info.h"

#include <stdio.h>

#include "packer/common/byte_io.h"
#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"

namespace popbox {

namespace {

// UTF-8 (already known to be valid) to code points.
std::u32string Decode(const std::string& utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    uint8_t lead = static_cast<uint8_t>(utf8[i]);
    int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = cp << 6 | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    out += static_cast<char32_t>(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// The text as UTF-16 after the checks; `source` names it in messages.
std::u16string CheckedText(const std::string& utf8, const std::string& source) {
  std::string bytes, problem;
  if (!IsUtf8(utf8)) throw BrandError(source + " is not valid UTF-8");
  if (!Utf8ToCodePage(*FindCodePage(VERSION_CODE_PAGE), utf8, &bytes, &problem)) {
    throw BrandError(source + " has " + problem + ", which code page 1252 of the version " +
                     "information cannot hold");
  }
  std::u32string points = Decode(utf8);
  if (points.size() > MAX_VERSION_TEXT) {
    throw BrandError(source + " has " + std::to_string(points.size()) + " characters; at most " +
                     std::to_string(MAX_VERSION_TEXT) + " are allowed");
  }
  std::u16string out;
  for (char32_t c : points) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      throw BrandError(source + " has the control character " + DescribeCodePoint(c));
    }
    out += static_cast<char16_t>(c);  // code page 1252 holds only characters below U+10000
  }
  return out;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

bool EndsWithSetup(const std::string& text) {
  static const char suffix[] = "setup";
  if (text.size() < 5) return false;
  for (size_t i = 0; i < 5; ++i) {
    char c = text[text.size() - 5 + i];
    if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != suffix[i]) return false;
  }
  return true;
}

// One node of the VS_VERSIONINFO tree: length, value length, type, key,
// padding to 4, the value, padding, the children.
void AppendNode(std::vector<uint8_t>& out, const std::u16string& key, uint16_t valueLength,
                bool text, const std::vector<uint8_t>& value,
                const std::vector<uint8_t>& children) {
  size_t start = out.size();
  AppendU16(out, 0);  // length, filled in below
  AppendU16(out, valueLength);
  AppendU16(out, text ? 1 : 0);
  for (char16_t c : key) AppendU16(out, c);
  AppendU16(out, 0);
  PadTo(out, 4);
  out.insert(out.end(), value.begin(), value.end());
  if (!children.empty()) PadTo(out, 4);
  out.insert(out.end(), children.begin(), children.end());
  size_t length = out.size() - start;
  if (length > 0xFFFF) throw BrandError("the version information is too large");
  PutU16(out, start, static_cast<uint16_t>(length));
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) AppendU16(out, c);
  AppendU16(out, 0);
  return out;
}

}  // namespace

bool VersionOptions::Any() const {
  return !productVersion.empty() || !fileVersion.empty() || !productName.empty() ||
         !company.empty() || !description.empty() || !copyright.empty() || !originalName.empty();
}

VersionNumber ParseVersionNumber(const std::string& text) {
  VersionNumber version;
  size_t part = 0, digits = 0;
  uint32_t value = 0;
  auto malformed = [&]() {
    return BrandError("\"" + text +
                      "\" is no version: it takes one to four numbers from 0 to 65535 "
                      "separated by dots, as in 1.2.3.4");
  };
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || part == 4) throw malformed();
      version.parts[part++] = static_cast<uint16_t>(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 5 || value > 0xFFFF) throw malformed();
    } else {
      throw malformed();
    }
  }
  for (size_t i = 0; i < 4; ++i) {
    version.text += (i ? "." : "") + std::to_string(version.parts[i]);
  }
  return version;
}

VersionValues ResolveVersionValues(const VersionOptions& options, const VersionDefaults& defaults) {
  VersionValues values;
  auto number = [](const std::string& text, const char* option) {
    try {
      return ParseVersionNumber(text);
    } catch (const BrandError& e) {
      throw BrandError(std::string(option) + ": " + e.what());
    }
  };
  std::string product = options.productVersion, file = options.fileVersion;
  if (product.empty()) product = file;
  if (file.empty()) file = product;
  if (!product.empty()) {
    values.productVersion =
        number(product, options.productVersion.empty() ? "--file-version" : "--product-version");
    values.fileVersion =
        number(file, options.fileVersion.empty() ? "--product-version" : "--file-version");
    values.versionsGiven = true;
  }

  std::string name = options.productName.empty() ? defaults.title : options.productName;
  std::string nameSource = options.productName.empty()
                               ? "the product name from Setup.ini [Install] Title (give "
                                 "--product-name instead)"
                               : "--product-name";
  std::string description = options.description;
  std::string descriptionSource = "--description";
  if (description.empty() && !name.empty()) {
    description = EndsWithSetup(name) ? name : name + " Setup";
    descriptionSource = "the description made from " + nameSource;
  }
  std::string original = options.originalName.empty() ? defaults.fileName : options.originalName;
  std::string originalSource = options.originalName.empty()
                                   ? "the setup's file name (give --original-filename instead)"
                                   : "--original-filename";

  struct Field {
    const char* key;
    std::string text;
    std::string source;
  };
  const Field fields[] = {
      {"CompanyName", options.company, "--company"},
      {"FileDescription", description, descriptionSource},
      {"FileVersion", values.versionsGiven ? values.fileVersion.text : std::string(), ""},
      {"LegalCopyright", options.copyright, "--copyright"},
      {"OriginalFilename", original, originalSource},
      {"ProductName", name, nameSource},
      {"ProductVersion", values.versionsGiven ? values.productVersion.text : std::string(), ""},
  };
  // The name first: a description made from it would report its fault
  // less directly.
  if (!name.empty()) CheckedText(name, nameSource);
  for (const Field& field : fields) {
    if (field.text.empty()) continue;
    values.strings.emplace_back(field.key, CheckedText(field.text, field.source));
  }
  return values;
}

std::vector<uint8_t> BuildVersionResource(const VersionValues& values) {
  std::vector<uint8_t> fixed;
  auto ms = [](const VersionNumber& v) { return uint32_t{v.parts[0]} << 16 | v.parts[1]; };
  auto ls = [](const VersionNumber& v) { return uint32_t{v.parts[2]} << 16 | v.parts[3]; };
  AppendU32(fixed, 0xFEEF04BD);  // signature
  AppendU32(fixed, 0x00010000);  // structure version 1.0
  AppendU32(fixed, ms(values.fileVersion));
  AppendU32(fixed, ls(values.fileVersion));
  AppendU32(fixed, ms(values.productVersion));
  AppendU32(fixed, ls(values.productVersion));
  AppendU32(fixed, 0x3F);     // flags mask: all defined flags
  AppendU32(fixed, 0);        // flags: none (not debug, not pre-release)
  AppendU32(fixed, 0x40004);  // VOS_NT_WINDOWS32
  AppendU32(fixed, 1);        // VFT_APP
  AppendU32(fixed, 0);        // subtype
  AppendU32(fixed, 0);        // date
  AppendU32(fixed, 0);

  std::vector<uint8_t> strings;
  for (const auto& entry : values.strings) {
    AppendNode(strings, Ascii(entry.first), static_cast<uint16_t>(entry.second.size() + 1), true,
               Utf16Bytes(entry.second), {});
    PadTo(strings, 4);
  }
  char table[9];
  snprintf(table, sizeof table, "%04X%04X", VERSION_LANGUAGE, VERSION_CODE_PAGE);
  std::vector<uint8_t> tableNode;
  AppendNode(tableNode, Ascii(table), 0, true, {}, strings);
  std::vector<uint8_t> stringInfo;
  AppendNode(stringInfo, u"StringFileInfo", 0, true, {}, tableNode);
  PadTo(stringInfo, 4);

  std::vector<uint8_t> translation;
  AppendU16(translation, VERSION_LANGUAGE);
  AppendU16(translation, VERSION_CODE_PAGE);
  std::vector<uint8_t> var;
  AppendNode(var, u"Translation", 4, false, translation, {});
  std::vector<uint8_t> varInfo;
  AppendNode(varInfo, u"VarFileInfo", 0, true, {}, var);

  std::vector<uint8_t> children = stringInfo;
  children.insert(children.end(), varInfo.begin(), varInfo.end());
  std::vector<uint8_t> root;
  AppendNode(root, u"VS_VERSION_INFO", static_cast<uint16_t>(fixed.size()), false, fixed, children);
  return root;
}

}  // namespace popbox
