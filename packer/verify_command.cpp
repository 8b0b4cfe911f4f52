// popbox verify: is this a setup the stub can install? Every record is read
// and decoded with the stub's own reader; then the layout the stub relies
// on is checked (extract checks it too), and Setup.ini gets the same script
// checks as `check`.
#include <string.h>

#include <algorithm>
#include <map>

#include "base/text.h"
#include "install/install_paths.h"
#include "packer/app_folder.h"
#include "packer/branding/pe_image.h"
#include "packer/check.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"
#include "packer/setup_reader.h"
#include "payload/payload_format.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

// The stub image: PAYLOAD_OFFSET bytes that are a Windows program, read
// with the headers pack reads a stub with. Sets `security` to the directory
// that names a signature; returns a problem, or "".
std::string CheckStubImage(const SetupReader& reader, PeDirectory* security) {
  std::vector<uint8_t> image(PAYLOAD_OFFSET);
  if (reader.FileSize() < PAYLOAD_OFFSET || !reader.ReadAt(0, image.data(), image.size()) ||
      image[0] != 'M' || image[1] != 'Z') {
    return NOT_A_SETUP;
  }
  try {
    *security = PeImage(image).Directory(PE_DIRECTORY_SECURITY);
  } catch (const BrandError& e) {
    if (PeImage::HeaderOffset(image) == 0) {
      return "has no PE header within its first " + std::to_string(PAYLOAD_OFFSET) +
             " bytes; the stub image is not a Windows program";
    }
    return std::string("its stub image ") + e.what();
  }
  return "";
}

// Bytes behind the end record are allowed only as an Authenticode
// signature: the PE security directory names them (after at most 7 bytes
// of zero padding) up to the end of the file, and they hold a
// WIN_CERTIFICATE of revision 2.0 with PKCS#7 signed data.
std::string CheckTail(const SetupReader& reader, const PeDirectory& security, uint64_t payloadEnd) {
  uint64_t size = reader.FileSize();
  if (payloadEnd == size) return "";
  std::string refusal = std::to_string(size - payloadEnd) +
                        " bytes follow the end record, and they are not an Authenticode "
                        "signature";
  uint64_t start = security.rva;  // a file offset, for this directory
  uint64_t length = security.size;
  if (start < payloadEnd || start - payloadEnd > 7 || start + length != size || length < 8) {
    return refusal;
  }
  uint8_t padding[8] = {0};
  uint8_t zeros[8] = {0};
  if (!reader.ReadAt(payloadEnd, padding, static_cast<size_t>(start - payloadEnd)) ||
      memcmp(padding, zeros, sizeof zeros) != 0) {
    return refusal;
  }
  uint8_t certificate[8];
  if (!reader.ReadAt(start, certificate, 8) || Load32(certificate) > length ||
      Load32(certificate) < 8 || Load16(certificate + 4) != 0x0200 ||
      Load16(certificate + 6) != 0x0002) {
    return refusal;
  }
  return "";
}

// Names that Windows takes for one path are equal under this key.
std::string PathKey(const CodePage& page, const std::string& name) {
  std::string key = CaseFoldKey(page, name);
  std::replace(key.begin(), key.end(), '/', '\\');
  return key;
}

}  // namespace

std::string CheckSetupLayout(SetupReader& reader, const CodePage& page,
                             std::vector<PackageRecord>* records, std::string* script) {
  PeDirectory security;
  std::string image = CheckStubImage(reader, &security);
  if (!image.empty()) return image;

  std::map<std::string, uint32_t> seen;  // case-folded name -> type
  for (;;) {
    SetupRecord record = reader.Next(records->empty());
    std::string shown = ShownName(page, record.name);
    std::string where = "record " + std::to_string(record.index) + " (" +
                        RecordTypeName(record.type) + (shown.empty() ? "" : " ") + shown +
                        ") at offset " + std::to_string(record.offset);
    if (record.name.size() != record.nameLength) {
      return where + ": its name holds a zero byte, where the setup would cut it";
    }
    bool folder = record.type == BLOB_FOLDER, end = record.type == BLOB_END;
    if ((folder || end) &&
        (record.unpackedSize != 0 || record.packedSize != 0 || (end && record.nameLength != 0))) {
      return where +
             (end ? ": the end record carries a name or contents"
                  : ": a folder record carries contents") +
             ", which the setup passes over; a writer of this setup went wrong";
    }
    if (record.type == BLOB_END) {
      if (record.index == 1) return "holds no records before its end record";
      break;
    }
    if (record.index == 1) {
      if (record.type != BLOB_FILE || !EqualTextNoCase(record.name.c_str(), SETUP_SCRIPT_NAME)) {
        return where + ": the first record must be the file Setup.ini";
      }
      script->assign(record.contents.begin(), record.contents.end());
    }
    if (record.type != BLOB_FILE && record.type != BLOB_FOLDER) {
      return where + ": the setup would stop with \"Unknown BLOB Type\"";
    }
    if (!IsSafeRecordName(record.name.c_str())) {
      return where + ": the setup would stop with \"Bad BLOB Name: " + shown + "\"";
    }
    // The rules pack holds names to, element by element: Windows could not
    // create the rest (a control byte, ? or *), and the setup would stop.
    for (size_t at = 0, cut; at <= record.name.size(); at = cut + 1) {
      cut = std::min(record.name.find('\\', at), record.name.size());
      std::string element = CheckNameElement(record.name.substr(at, cut - at));
      if (!element.empty()) return where + ": " + element;
    }
    std::string tooLong = CheckRecordNameLength(record.name.size());
    if (!tooLong.empty()) return where + ": " + tooLong;
    size_t separator = record.name.find_last_of("\\/");
    if (separator != std::string::npos) {
      auto parent = seen.find(PathKey(page, record.name.substr(0, separator)));
      if (parent == seen.end() || parent->second != BLOB_FOLDER) {
        return where + ": its folder has no folder record before it";
      }
    }
    if (!seen.emplace(PathKey(page, record.name), record.type).second) {
      return where + ": the same name came before (letter case aside); " +
             (record.type == BLOB_FOLDER ? "the setup would fail to create the folder"
                                         : "the setup would overwrite that file");
    }
    records->push_back({record.name, record.type, where});
  }
  return CheckTail(reader, security, reader.Offset());
}

bool VerifyCommand(const std::string& setupPath, const CodePage& page, std::ostream& report,
                   std::ostream& diagnostics) {
  SetupReader reader(setupPath);
  std::vector<PackageRecord> records;
  std::string script;
  std::string problem = CheckSetupLayout(reader, page, &records, &script);
  if (!problem.empty()) {
    diagnostics << DescribeFailure(setupPath, problem, 0) << '\n';
    return false;
  }

  Diagnostics found;
  CheckScript(setupPath + ": Setup.ini", script, records, page, &found);
  for (const Diagnostic& d : found.All()) {
    if (d.error) {
      diagnostics << FormatDiagnostic(d) << '\n';
      return false;
    }
  }
  uint64_t files = 0;
  for (const PackageRecord& record : records) files += record.type == BLOB_FILE;
  report << setupPath << ": sound; " << CountOf(files, "file") << ", "
         << CountOf(records.size() - files, "folder") << ", "
         << (reader.Offset() == reader.FileSize() ? "nothing" : "a signature")
         << " behind the end record\n";
  return true;
}

}  // namespace popbox
