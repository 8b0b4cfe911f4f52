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
#include "packer/check.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/host/host_file.h"
#include "packer/setup_reader.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

// Renames every name below `folder` to what its record-name bytes mean in
// the code page. The conversion never maps two names to one, but a
// converted name may equal another name's bytes before that one is
// converted; so each folder's names move to free temporary names first and
// to their own names after. It goes on past a failure, so that what can be
// converted is, and keeps the first failure in `failure`.
void NamesToUtf8(const std::string& folder, const CodePage& page, std::string* failure) {
  auto fail = [&](const std::string& path, const char* what, int error) {
    if (failure->empty()) *failure = DescribeFailure(path, what, error);
  };
  std::vector<std::string> names;
  int error = 0;
  if (!ListHostFolder(folder, &names, &error)) return fail(folder, "cannot read folder", error);
  std::vector<std::pair<std::string, std::string>> moves;  // temporary, final
  int next = 0;  // the search for a free temporary name goes on from here
  for (const std::string& name : names) {
    std::string final = CodePageToUtf8(page, WrittenNameBytes(name));
    if (final == name) continue;
    std::string temporary;
    do {
      temporary = ".popbox-rename-" + std::to_string(next++);
    } while (StatHost(folder + "/" + temporary, false).kind != HostKind::Missing);
    if (!RenameHost(folder + "/" + name, folder + "/" + temporary, &error)) {
      fail(folder + "/" + name, "cannot rename", error);
      continue;
    }
    moves.emplace_back(temporary, final);
  }
  for (const auto& move : moves) {
    std::string target = folder + "/" + move.second;
    error = 0;
    if (StatHost(target, false).kind != HostKind::Missing ||
        !RenameHost(folder + "/" + move.first, target, &error)) {
      fail(target, "cannot rename into place", error);
    }
  }
  if (!ListHostFolder(folder, &names, &error)) return fail(folder, "cannot read folder", error);
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    if (StatHost(path, false).kind == HostKind::Folder) NamesToUtf8(path, page, failure);
  }
}

// The folder must be new or empty, so that everything in it afterwards
// came from the setup, and no folder the setup makes is there already.
void PrepareFolder(const std::string& folder) {
  HostStat st = StatHost(folder, false);
  int error = 0;
  std::vector<std::string> names;
  if (st.kind == HostKind::Missing) {
    if (!MakeHostFolder(folder, &error)) {
      throw PackerError(DescribeFailure(folder, "cannot create folder", error));
    }
  } else if (st.kind != HostKind::Folder) {
    throw PackerError(DescribeFailure(folder, "is not a folder", 0));
  } else if (!ListHostFolder(folder, &names, &error)) {
    throw PackerError(DescribeFailure(folder, "cannot read folder", error));
  } else if (!names.empty()) {
    throw PackerError(DescribeFailure(folder, "is not empty", 0));
  }
}

}  // namespace

void ExtractCommand(const std::string& setupPath, const std::string& folder, const CodePage& page,
                    std::ostream& report) {
  // The setup is opened and checked as verify checks it before the folder
  // is made: what verify refuses is not written at all.
  SetupReader reader(setupPath);
  std::vector<PackageRecord> records;
  std::string script;
  std::string problem = CheckSetupLayout(reader, page, &records, &script);
  if (!problem.empty()) throw PackerError(DescribeFailure(setupPath, problem, 0));
  PrepareFolder(folder);
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
  // What was written is converted even when the extraction failed, so that
  // neither code-page names nor temporary names are left; the extraction's
  // failure is the one reported.
  std::string renaming;
  NamesToUtf8(folder, page, &renaming);
  if (!ok) {
    throw PackerError(DescribeFailure(setupPath,
                                      std::string("the setup would stop with \"") + ErrorMessage() +
                                          "\" under \"" + ErrorCaption() + "\"",
                                      0));
  }
  if (!renaming.empty()) throw PackerError(renaming);

  uint64_t files = 0;
  for (const PackageRecord& record : records) files += record.type == BLOB_FILE;
  report << folder << ": " << CountOf(files, "file") << ", "
         << CountOf(records.size() - files, "folder") << " written\n";
}

}  // namespace popbox
