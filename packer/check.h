// popbox check: what the setup would make of an application folder, found
// before it is packed. Setup.ini is read with the setup's own script code
// (ScriptDocument, GetPath and the folder macro table) and a registry table
// filled with typical folder locations, so every message the setup could
// show under "Bug" because of the package is caught here first.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "packer/app_folder.h"
#include "packer/common/diagnostics.h"

namespace popbox {

struct CodePage;

// The install folder the long-name checks assume: "C:\Program Files (x86)\"
// and a folder name of 40 characters, unless DefaultAppDir proposes a
// longer one.
constexpr uint32_t TYPICAL_INSTALL_FOLDER_LENGTH = 23 + 40;

// A payload record as the script checks see it.
struct PackageRecord {
  std::string name;   // record name, code-page bytes
  uint32_t type;      // BLOB_FOLDER or BLOB_FILE
  std::string shown;  // how messages name it (host path or record name)
};

// Checks the text of Setup.ini (`shown` names it in messages) against the
// keys the setup reads and against the records it would install; what
// the author left out, when known, explains a LinkTarget that is missing.
void CheckScript(const std::string& shown, const std::string& text,
                 const std::vector<PackageRecord>& records, const CodePage& page,
                 Diagnostics* diagnostics, const std::vector<LeftOut>& leftOut = {});

// ListAppFolder, then CheckScript on its Setup.ini.
AppFolder CheckAppFolder(const std::string& appFolder, const CodePage& page,
                         const Exclusions& exclusions, Diagnostics* diagnostics);

// The registry table filled with the typical folders that CheckScript
// assumes (a 32-bit program on 64-bit Windows, a user name of 20
// characters, the longest Windows allows).
void FillTypicalFolders();

}  // namespace popbox
