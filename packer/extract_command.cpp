// popbox extract: the payload written into a folder on the host by the
// setup's own code: theScript loaded from the payload, then ExtractPayload
// into the folder, so the result is what the setup would install (with
// the trimmed Setup.ini). Record names are bytes in the code page; the
// host's file calls make names from them (backslashes become folders), and
// afterwards every name is renamed to what those bytes mean in the code
// page, in UTF-8.
#include "base/error_slot.h"
#include "install/extract.h"
#include "packer/app_folder.h"
#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/diagnostics.h"
#include "packer/host_file.h"
#include "packer/packer_error.h"
#include "packer/setup_reader.h"
#include "script/script_document.h"

namespace popbox {

namespace {

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  int error = 0;
  if (!ListHostFolder(folder, &names, &error)) {
    throw PackerError(DescribeFailure(folder, "cannot read folder", error));
  }
  return names;
}

// Renames every name below `folder` to what its record-name bytes mean in
// the code page. The conversion never maps two names to one, but a
// converted name may equal another name's bytes before that one is
// converted; so each folder's names move to free temporary names first and
// to their own names after.
void NamesToUtf8(const std::string& folder, const CodePage& page) {
  std::vector<std::pair<std::string, std::string>> moves;  // temporary, final
  for (const std::string& name : NamesIn(folder)) {
    std::string final = CodePageToUtf8(page, WrittenNameBytes(name));
    if (final == name) continue;
    std::string temporary;
    for (int n = 0;; ++n) {
      temporary = ".popbox-rename-" + std::to_string(n);
      if (StatHost(folder + "/" + temporary, false).kind == HostKind::Missing) break;
    }
    int error = 0;
    if (!RenameHost(folder + "/" + name, folder + "/" + temporary, &error)) {
      throw PackerError(DescribeFailure(folder + "/" + name, "cannot rename", error));
    }
    moves.emplace_back(temporary, final);
  }
  for (const auto& move : moves) {
    std::string target = folder + "/" + move.second;
    int error = 0;
    if (StatHost(target, false).kind != HostKind::Missing ||
        !RenameHost(folder + "/" + move.first, target, &error)) {
      throw PackerError(DescribeFailure(target, "cannot rename into place", error));
    }
  }
  for (const std::string& name : NamesIn(folder)) {
    std::string path = folder + "/" + name;
    if (StatHost(path, false).kind == HostKind::Folder) NamesToUtf8(path, page);
  }
}

// The folder must be new or empty, so that everything in it afterwards
// came from the setup, and the setup's own refusal to create a folder
// twice still shows.
void PrepareFolder(const std::string& folder) {
  HostStat st = StatHost(folder, false);
  int error = 0;
  if (st.kind == HostKind::Missing) {
    if (!MakeHostFolder(folder, &error)) {
      throw PackerError(DescribeFailure(folder, "cannot create folder", error));
    }
  } else if (st.kind != HostKind::Folder) {
    throw PackerError(DescribeFailure(folder, "is not a folder", 0));
  } else if (!NamesIn(folder).empty()) {
    throw PackerError(DescribeFailure(folder, "is not empty", 0));
  }
}

}  // namespace

void ExtractCommand(const std::string& setupPath, const std::string& folder, const CodePage& page,
                    std::ostream& report) {
  PrepareFolder(folder);
  SetupReader reader(setupPath);
  bool ok;
  {
    // The install folder is "." inside the target, so composed paths stay
    // within 259 characters as they would below a short install folder.
    CurrentFolder inside(folder);
    MatchNamesInCodePage(&page);
    ClearError();
    ok = theScript.LoadFromPayload(SETUP_SCRIPT_NAME, reader.Payload()) &&
         ExtractPayload(".", "", "", reader.Payload());
    MatchNamesInCodePage(nullptr);
    theScript.Clear();
  }
  if (!ok) {
    throw PackerError(DescribeFailure(setupPath,
                                      std::string("the setup would stop with \"") + ErrorMessage() +
                                          "\" under \"" + ErrorCaption() + "\"",
                                      0));
  }
  NamesToUtf8(folder, page);

  // The extraction read every record whole; counting needs the headers only.
  uint64_t files = 0, folders = 0;
  PayloadStream& payload = reader.Payload();
  payload.OpenPayload();
  char name[NAME_BUFFER_SIZE];
  uint32_t type = BLOB_END;
  while (payload.SkipNextBlob(name, &type) && type != BLOB_END) {
    files += type == BLOB_FILE;
    folders += type == BLOB_FOLDER;
  }
  payload.ClosePayload();
  report << folder << ": " << CountOf(files, "file") << ", " << CountOf(folders, "folder")
         << " written\n";
}

}  // namespace popbox
