// popbox list: one line per record and the totals.
#include <stdio.h>

#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/diagnostics.h"
#include "packer/setup_reader.h"
#include "payload/payload_format.h"

namespace popbox {

void ListCommand(const std::string& setupPath, const CodePage& page, std::ostream& out) {
  SetupReader reader(setupPath);
  uint64_t files = 0, folders = 0, unpacked = 0, stored = 0;
  for (;;) {
    SetupRecord record = reader.Next(false);
    char line[64];
    snprintf(line, sizeof line, "%-6s %10u %10u", RecordTypeName(record.type).c_str(),
             record.unpackedSize, record.packedSize);
    out << line << (record.name.empty() ? "" : " ") << CodePageToUtf8(page, record.name) << '\n';
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
