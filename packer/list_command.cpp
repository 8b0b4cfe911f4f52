// popbox list: one line per record and the totals, read from a setup, or
// made from a folder as pack would make them.
#include <stdio.h>

#include "packer/app_folder.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/exclusions.h"
#include "packer/host/host_file.h"
#include "packer/setup_reader.h"
#include "payload/payload_format.h"

namespace popbox {

namespace {

void Line(std::ostream& out, const std::string& type, uint64_t unpacked, const std::string& stored,
          const std::string& name) {
  char sizes[64];
  snprintf(sizes, sizeof sizes, "%-8s %10llu %10s", type.c_str(),
           static_cast<unsigned long long>(unpacked), stored.c_str());
  out << sizes << (name.empty() ? "" : " ") << name << '\n';
}

// The records of a folder: names and sizes as pack would write them (the
// stored sizes are known only once it compresses), and what is left out.
void ListFolder(const std::string& folder, const CodePage& page,
                const std::vector<std::string>& excludes, std::ostream& out) {
  Diagnostics found;
  AppFolder app = ListAppFolder(folder, page, Exclusions(folder, excludes), &found);
  if (found.Errors() != 0) {
    throw PackerError(FormatDiagnostic(found.All().front()) + " (popbox check tells all)");
  }
  uint64_t files = 0, bytes = 0;
  for (const AppRecord& record : app.records) {
    Line(out, RecordTypeName(record.type), record.size, "-",
         CodePageToUtf8(page, record.recordName));
    files += record.type == BLOB_FILE;
    bytes += record.size;
  }
  for (const LeftOut& left : app.leftOut) {
    Line(out, "LEFT OUT", 0, "-",
         left.hostPath.substr(folder.size() + 1) + " (" + left.pattern + ")");
  }
  out << CountOf(files, "file") << ", " << CountOf(app.records.size() - files, "folder") << ": "
      << bytes << " bytes; " << app.leftOut.size() << " left out\n";
}

}  // namespace

void ListCommand(const std::string& path, const CodePage& page,
                 const std::vector<std::string>& excludes, std::ostream& out) {
  if (StatHost(path, true).kind == HostKind::Folder) return ListFolder(path, page, excludes, out);
  SetupReader reader(path);
  uint64_t files = 0, folders = 0, unpacked = 0, stored = 0;
  for (;;) {
    SetupRecord record = reader.Next(false);
    Line(out, RecordTypeName(record.type), record.unpackedSize, std::to_string(record.packedSize),
         ShownName(page, record.name));
    if (record.type == BLOB_END) break;
    files += record.type == BLOB_FILE;
    folders += record.type == BLOB_FOLDER;
    unpacked += record.unpackedSize;
    stored += record.packedSize;
  }
  char ratio[32] = "";
  if (unpacked != 0) snprintf(ratio, sizeof ratio, " (%.1f%%)", 100.0 * stored / unpacked);
  out << CountOf(files, "file") << ", " << CountOf(folders, "folder") << ": " << unpacked
      << " bytes stored in " << stored << ratio << '\n';
}

}  // namespace popbox
